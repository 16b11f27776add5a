# Runs at install time: writes the launcher for whatever prefix
# `cmake --install --prefix` or the package gave. /usr and /usr/local put the
# program on the search path; any other prefix names its link in full.
if(CMAKE_INSTALL_PREFIX MATCHES "^/usr(/local)?/?$" OR CMAKE_INSTALL_PREFIX MATCHES "/_CPack_Packages/.*/usr$")
  set(exec "tolvane")
else()
  set(exec "${CMAKE_INSTALL_PREFIX}/${TOLVANE_BIN_DIR}/tolvane")
  cmake_path(NORMAL_PATH exec)
endif()
file(READ "${TOLVANE_DESKTOP_TEMPLATE}" text)
string(REPLACE "@TOLVANE_EXEC@" "${exec}" text "${text}")
set(target "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${TOLVANE_DESKTOP_FILE}")
message(STATUS "Installing: ${target}")
file(WRITE "${target}" "${text}")
