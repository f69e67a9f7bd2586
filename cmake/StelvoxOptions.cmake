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

set(STELVOX_UPDATE_PUBLIC_KEY "" CACHE STRING
  "Base64 line of the release operators' minisign public key (empty: releases are not verified)")

function(stelvox_require_ascii_length var length)
  set(value "${${var}}")
  # Checked before the length: CMake counts bytes, and a multi-byte character would
  # otherwise get the length message.
  if(NOT value MATCHES "^[ -~]*$")
    message(FATAL_ERROR "${var} must hold printable ASCII characters only (codes 32 to 126).")
  endif()
  string(LENGTH "${value}" actual)
  if(NOT actual EQUAL length)
    message(FATAL_ERROR "${var} must be exactly ${length} ASCII characters; \"${value}\" has ${actual}.")
  endif()
endfunction()

# "${var}_C": the value as a C string literal, backslashes and quotes escaped.
function(stelvox_c_string var)
  string(REPLACE "\\" "\\\\" escaped "${${var}}")
  string(REPLACE "\"" "\\\"" escaped "${escaped}")
  # "??" could start a trigraph in older language modes.
  string(REPLACE "?" "\\?" escaped "${escaped}")
  set(${var}_C "\"${escaped}\"" PARENT_SCOPE)
endfunction()

stelvox_require_ascii_length(STELVOX_UPDATE_USER 10)
stelvox_require_ascii_length(STELVOX_UPDATE_PASSWORD 8)
if(NOT STELVOX_UPDATE_HOST MATCHES "^[A-Za-z0-9]([A-Za-z0-9.-]*[A-Za-z0-9])?$")
  message(FATAL_ERROR "STELVOX_UPDATE_HOST must be a host name; \"${STELVOX_UPDATE_HOST}\" is not.")
endif()
# 42 bytes in base64: the line after the comment in a minisign .pub file.
string(LENGTH "${STELVOX_UPDATE_PUBLIC_KEY}" key_length)
if(NOT STELVOX_UPDATE_PUBLIC_KEY STREQUAL "" AND
   (NOT key_length EQUAL 56 OR NOT STELVOX_UPDATE_PUBLIC_KEY MATCHES "^RW[A-Za-z0-9+/]+$"))
  message(FATAL_ERROR "STELVOX_UPDATE_PUBLIC_KEY must be the base64 line of a minisign public key "
                      "(56 characters starting with RW), or empty.")
endif()
foreach(value STELVOX_UPDATE_HOST STELVOX_UPDATE_USER STELVOX_UPDATE_PASSWORD STELVOX_UPDATE_PUBLIC_KEY)
  stelvox_c_string(${value})
endforeach()
