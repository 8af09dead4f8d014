# The publisher's public key, compiled into the patcher: -DVORLEN_SIGNING_PUBLIC_KEY
# names a PEM file as `openssl ec -pubout` writes it (an ECDSA P-256 key). openssl
# turns it into DER, whose last 64 bytes are the point's X‖Y; the fixed 27 bytes
# before them say "EC public key on P-256, uncompressed point". Without the option
# the header says releases are unsigned.
#   cmake -DVORLEN_SIGNING_PUBLIC_KEY=<file or empty> -DHEADER=<path> -P signing_key.cmake
# writes the header alone.
function(vorlen_write_signing_key_header key_file header)
  if(key_file STREQUAL "")
    set(signed false)
    set(bytes "0")
  else()
    if(NOT EXISTS "${key_file}")
      message(FATAL_ERROR "VORLEN_SIGNING_PUBLIC_KEY: ${key_file} does not exist")
    endif()
    if(NOT CMAKE_SCRIPT_MODE_FILE)
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${key_file}")
    endif()
    find_program(VORLEN_OPENSSL openssl REQUIRED)
    get_filename_component(header_dir "${header}" DIRECTORY)
    file(MAKE_DIRECTORY "${header_dir}")
    set(der "${header}.der")
    execute_process(COMMAND ${VORLEN_OPENSSL} pkey -pubin -in ${key_file} -outform DER -out ${der}
                    RESULT_VARIABLE failed ERROR_VARIABLE openssl_error)
    if(failed)
      message(FATAL_ERROR "VORLEN_SIGNING_PUBLIC_KEY: openssl cannot read ${key_file}: ${openssl_error}")
    endif()
    file(READ ${der} hex HEX)
    string(SUBSTRING "${hex}" 0 54 prefix)
    string(LENGTH "${hex}" length)
    if(NOT length EQUAL 182 OR NOT prefix STREQUAL "3059301306072a8648ce3d020106082a8648ce3d03010703420004")
      message(FATAL_ERROR "VORLEN_SIGNING_PUBLIC_KEY: ${key_file} is not an ECDSA P-256 public key")
    endif()
    string(SUBSTRING "${hex}" 54 128 point)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${point}")
    set(signed true)
  endif()
  string(CONCAT text "#pragma once\n// Generated from VORLEN_SIGNING_PUBLIC_KEY by cmake/signing_key.cmake.\n"
           "const bool kReleasesSigned = ${signed};\n"
           "const unsigned char kSigningPublicKey[] = {${bytes}};\n")
  set(old "")
  if(EXISTS ${header})
    file(READ ${header} old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE ${header} "${text}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  vorlen_write_signing_key_header("${VORLEN_SIGNING_PUBLIC_KEY}" "${HEADER}")
endif()
