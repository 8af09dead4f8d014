# cmake -DNM=... -DIMPORT_LIBRARY=lib<x>.a -DDLL=<x>.dll -DSYMBOL_PREFIX=_|"" -DDEF=<x>.def -P write_import_def.cmake
# Writes a .def file that exports from DLL every function the import library
# imports: each "__imp_<prefix><name>" symbol of the library, <name> with its
# @N on i686. An import library without such symbols fails the build.
execute_process(COMMAND ${NM} ${IMPORT_LIBRARY} OUTPUT_VARIABLE symbols RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} cannot read ${IMPORT_LIBRARY}")
endif()
string(REGEX MATCHALL "[ \t]I __imp_${SYMBOL_PREFIX}[A-Za-z0-9_@]+" found "${symbols}")
set(names "")
foreach(entry IN LISTS found)
  string(REGEX REPLACE "^[ \t]I __imp_${SYMBOL_PREFIX}" "" name "${entry}")
  list(APPEND names "${name}")
endforeach()
list(REMOVE_DUPLICATES names)
list(SORT names)
list(LENGTH names count)
if(count EQUAL 0)
  message(FATAL_ERROR "${IMPORT_LIBRARY} names no function to import")
endif()
list(JOIN names "\n" lines)
file(WRITE ${DEF} "LIBRARY ${DLL}\nEXPORTS\n${lines}\n")
