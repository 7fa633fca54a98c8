# Shared by the test-data snippets in windows.d/ when they run as scripts
# (cmake -DOUT=<folder> -DPYTHON=<python3> -DPKGMAKER=<pkgmaker.py> -P <file>):
# the argument check and the two ways they run a step.

foreach(var OUT PYTHON PKGMAKER)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${CMAKE_SCRIPT_MODE_FILE}: -D${var}=... is missing")
  endif()
endforeach()

# Runs a command; a failure stops the script, naming `what`.
function(veltra_testdata_run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${CMAKE_SCRIPT_MODE_FILE}: ${what} failed (${rc})")
  endif()
endfunction()

function(veltra_testdata_pkgmaker)
  veltra_testdata_run("pkgmaker.py ${ARGN}" "${PYTHON}" "${PKGMAKER}" ${ARGN})
endfunction()
