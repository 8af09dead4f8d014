# The publishers' public keys, compiled into the patcher: -DVORLEN_SIGNING_PUBLIC_KEY
# names one or more PEM files (a CMake list: a;b) as `openssl pkey -pubout` writes
# them, each an ECDSA P-256 key. openssl turns each into DER, whose last 64 bytes
# are the point's X‖Y; the fixed 27 bytes before them say "EC public key on P-256,
# uncompressed point". A key's id is the first 8 bytes, in hex, of the SHA-256 of
# that DER. Without the option the patcher has no keys and releases are unsigned.
# Everything lands in one generated source, so that builds with other keys differ
# in one object.
#   cmake -DVORLEN_SIGNING_PUBLIC_KEY=<files or empty> -DSOURCE=<path> -P signing_key.cmake
# writes the source alone.
function(vorlen_write_signing_keys_source key_files source)
  get_filename_component(source_dir "${source}" DIRECTORY)
  file(MAKE_DIRECTORY "${source_dir}")
  set(entries "")
  set(ids "")
  set(index 0)
  foreach(key_file IN LISTS key_files)
    if(key_file STREQUAL "")
      continue()
    endif()
    if(NOT IS_ABSOLUTE "${key_file}")
      message(FATAL_ERROR "VORLEN_SIGNING_PUBLIC_KEY: give each key's full path, not ${key_file}")
    endif()
    if(NOT EXISTS "${key_file}")
      message(FATAL_ERROR "VORLEN_SIGNING_PUBLIC_KEY: ${key_file} does not exist")
    endif()
    if(NOT CMAKE_SCRIPT_MODE_FILE)
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${key_file}")
    endif()
    find_program(VORLEN_OPENSSL openssl REQUIRED)
    set(der "${source}.${index}.der")
    math(EXPR index "${index} + 1")
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
    file(SHA256 ${der} digest)
    file(REMOVE ${der})
    string(SUBSTRING "${digest}" 0 16 id)
    list(FIND ids "${id}" seen)
    if(NOT seen EQUAL -1)
      message(FATAL_ERROR "VORLEN_SIGNING_PUBLIC_KEY: the key in ${key_file} is given twice")
    endif()
    list(APPEND ids ${id})
    string(SUBSTRING "${hex}" 54 128 point)
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${point}")
    string(APPEND entries "    keys.push_back(PublisherKey{\"${id}\", std::string(\"${escaped}\", 64)});\n")
  endforeach()
  string(CONCAT text
    "// Generated from VORLEN_SIGNING_PUBLIC_KEY by cmake/signing_key.cmake.\n"
    "#include \"engine/signing_keys.h\"\n\n"
    "std::vector<PublisherKey> CompiledSigningKeys() {\n"
    "    std::vector<PublisherKey> keys;\n"
    "${entries}"
    "    return keys;\n"
    "}\n")
  set(old "")
  if(EXISTS ${source})
    file(READ ${source} old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE ${source} "${text}")
  endif()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  vorlen_write_signing_keys_source("${VORLEN_SIGNING_PUBLIC_KEY}" "${SOURCE}")
endif()
