# Runs at install time: writes the launcher with the program's installed path,
# so it follows whatever prefix `cmake --install --prefix` was given.
set(program "${CMAKE_INSTALL_PREFIX}/${TOLVANE_INSTALL_DIR}/tolvane")
cmake_path(NORMAL_PATH program)
file(READ "${TOLVANE_DESKTOP_TEMPLATE}" text)
string(REPLACE "@TOLVANE_INSTALLED_PROGRAM@" "${program}" text "${text}")
foreach(folder "${CMAKE_INSTALL_PREFIX}/${TOLVANE_INSTALL_DIR}" "${CMAKE_INSTALL_PREFIX}/share/applications")
  set(target "$ENV{DESTDIR}${folder}/tolvane.desktop")
  message(STATUS "Installing: ${target}")
  file(WRITE "${target}" "${text}")
endforeach()
