# Compiler settings and the build-time configuration of the program.
include(GNUInstallDirs)

if(NOT CMAKE_BUILD_TYPE AND NOT CMAKE_CONFIGURATION_TYPES)
  set(CMAKE_BUILD_TYPE RelWithDebInfo CACHE STRING "Build type" FORCE)
endif()

add_compile_options(-Wall -Wextra -Wpedantic -Werror)
# Debian's hardening flags, so that what the tests run is what the package ships.
add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
add_link_options(-Wl,-z,relro -Wl,-z,now)
# Every binary lands in one folder, so the program finds its library and helper beside it.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/bin")

option(STELVOX_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(STELVOX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
else()
  # Checked string and memory functions need the optimiser; the sanitizers check more.
  add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
endif()

# Update server. The account fields have fixed lengths that the server side expects.
set(STELVOX_UPDATE_HOST "update.stelvox.example" CACHE STRING "Host name of the update server")
set(STELVOX_UPDATE_USER "stelvoxupd" CACHE STRING "Update account name (exactly 10 ASCII characters)")
set(STELVOX_UPDATE_PASSWORD "Zr7kQ2mv" CACHE STRING "Update account password (exactly 8 ASCII characters)")

function(stelvox_require_ascii_length var length)
  set(value "${${var}}")
  string(LENGTH "${value}" actual)
  if(NOT actual EQUAL length)
    message(FATAL_ERROR "${var} must be exactly ${length} ASCII characters; \"${value}\" has ${actual}.")
  endif()
  if(NOT value MATCHES "^[ -~]+$")
    message(FATAL_ERROR "${var} must hold printable ASCII characters only.")
  endif()
endfunction()

stelvox_require_ascii_length(STELVOX_UPDATE_USER 10)
stelvox_require_ascii_length(STELVOX_UPDATE_PASSWORD 8)
if(NOT STELVOX_UPDATE_HOST MATCHES "^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?$")
  message(FATAL_ERROR "STELVOX_UPDATE_HOST must be a host name; \"${STELVOX_UPDATE_HOST}\" is not.")
endif()
