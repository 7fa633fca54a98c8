# Makes a delay-load import library from the toolchain's ordinary one: the
# same exports, but the DLL is loaded on the first call into it instead of
# before the program's first line. Run as
#   cmake -DIMPLIB=<lib.a> -DOUT=<lib_delay.a> -DNM=<nm> -DDLLTOOL=<dlltool> -P DelayImportLib.cmake
execute_process(COMMAND ${DLLTOOL} --identify ${IMPLIB} OUTPUT_VARIABLE dll
                OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR dll STREQUAL "")
  message(FATAL_ERROR "${IMPLIB} names no DLL")
endif()
string(REGEX REPLACE "\n.*" "" dll "${dll}")
execute_process(COMMAND ${NM} ${IMPLIB} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm cannot read ${IMPLIB}")
endif()
# The functions are the text symbols of the import stubs.
string(REGEX MATCHALL "[0-9a-fA-F]+ T [A-Za-z_][A-Za-z0-9_@]*" stubs "${symbols}")
set(exports "")
foreach(stub ${stubs})
  string(REGEX REPLACE ".* T " "" name "${stub}")
  list(APPEND exports "${name}")
endforeach()
list(REMOVE_DUPLICATES exports)
list(JOIN exports "\n" lines)
get_filename_component(base ${OUT} NAME_WE)
set(def "${OUT}.def")
file(WRITE ${def} "LIBRARY ${dll}\nEXPORTS\n${lines}\n")
execute_process(COMMAND ${DLLTOOL} --input-def ${def} --output-delaylib ${OUT} --dllname ${dll}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "dlltool could not make ${OUT}")
endif()
