# Compiler settings shared by the whole tree and by libm9s configured on its
# own, so that the sanitizer build checks the encoder as the normal one does.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

option(TOLVANE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(TOLVANE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
add_compile_options(-Wall -Wextra)
# CI and scripts/build.sh turn warnings into errors; a local build only shows them.
option(TOLVANE_WERROR "Treat compiler warnings as errors" OFF)
if(TOLVANE_WERROR)
  add_compile_options(-Werror)
endif()

# The program folder below the install prefix: /usr/lib/tolvane in the package.
# A plain variable, so that a cache entry left by an older tree cannot move it.
set(TOLVANE_INSTALL_DIR "lib/tolvane")
