# vorlen_delay_import(<dll> <target>): an imported library <target> that links
# <dll>.dll delay-loaded: the DLL is loaded when one of its functions is first
# called, by the delay-load helper of libmingwex, instead of by Windows before
# the program's entry point runs. GNU ld has no delay-load option; dlltool makes
# such an import library (-y) from a .def file, which is written here from the
# symbols of the toolchain's ordinary import library lib<dll>.a, so it lists
# exactly what that library offers, with the i686 names' @N (-k drops it from
# the names looked up in the DLL).
function(vorlen_delay_import dll target)
  find_library(VORLEN_PLAIN_IMPORT_${dll} NAMES ${dll} REQUIRED NO_CACHE)
  set(plain ${VORLEN_PLAIN_IMPORT_${dll}})
  set(folder ${CMAKE_BINARY_DIR}/delay-import)
  set(def ${folder}/${dll}.def)
  set(library ${folder}/lib${dll}-delay.a)
  # i686 C names carry a leading underscore that the .def file leaves out.
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(prefix "")
  else()
    set(prefix "_")
  endif()
  add_custom_command(OUTPUT ${library}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DIMPORT_LIBRARY=${plain} -DDLL=${dll}.dll
            -DSYMBOL_PREFIX=${prefix} -DDEF=${def} -P ${CMAKE_SOURCE_DIR}/cmake/write_import_def.cmake
    COMMAND ${CMAKE_DLLTOOL} -k -d ${def} -D ${dll}.dll -y ${library}
    DEPENDS ${plain} ${CMAKE_SOURCE_DIR}/cmake/write_import_def.cmake
    COMMENT "Delay-load import library for ${dll}.dll"
    VERBATIM)
  add_custom_target(${target}_library DEPENDS ${library})
  add_library(${target} STATIC IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_LOCATION ${library})
  add_dependencies(${target} ${target}_library)
endfunction()
