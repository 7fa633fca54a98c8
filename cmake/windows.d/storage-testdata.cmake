# The compound files tests/wine/StorageXmlSecurityTest.cpp reads, made at
# build time by tools/pkgmaker/pkgmaker.py on the Linux side. This same file
# does that work when run as a script:
#   cmake -DOUT=<folder> -DPYTHON=<python3> -DPKGMAKER=<pkgmaker.py> -P storage-testdata.cmake

if(CMAKE_SCRIPT_MODE_FILE)
  include(${CMAKE_CURRENT_LIST_DIR}/../TestDataScript.cmake)

  file(REMOVE_RECURSE "${OUT}")
  file(MAKE_DIRECTORY "${OUT}")

  # The stream contents, stored as they are so the tests can compare bytes:
  # "Contents" big enough to sit in the ordinary sectors and to need more than
  # one allocation table sector, the property set small enough for the mini
  # stream, and an empty stream. Both hold NULs and bytes above 0x7F.
  veltra_testdata_run("writing the stream contents" "${PYTHON}" -c [=[
import random, sys
out = sys.argv[1]
rng = random.Random(3)
with open(out + "/contents.bin", "wb") as f:
    f.write(rng.randbytes(70001))
with open(out + "/propset.bin", "wb") as f:
    f.write(b"\xfe\xff\x00\x00" + rng.randbytes(995) + b"\x00")
open(out + "/empty.bin", "wb").close()
]=] "${OUT}")

  set(_streams --contents-file "${OUT}/contents.bin" --propset-file "${OUT}/propset.bin")
  veltra_testdata_run("pkgmaker.py package" "${PYTHON}" "${PKGMAKER}" package "${OUT}/package.pkg"
                      ${_streams} --stream "Empty=${OUT}/empty.bin")
  # Half of the file is gone, the allocation table with it.
  veltra_testdata_run("pkgmaker.py package --damage truncate" "${PYTHON}" "${PKGMAKER}" package
                      "${OUT}/truncated.pkg" ${_streams} --damage truncate)
  # The chain of "Contents" continues past the end of the file.
  veltra_testdata_run("pkgmaker.py package --damage bad-sector" "${PYTHON}" "${PKGMAKER}" package
                      "${OUT}/bad-sector.pkg" ${_streams} --damage bad-sector)

  file(TOUCH "${OUT}/stamp")
  return()
endif()

find_program(VELTRA_PYTHON3 python3 REQUIRED)

set(_veltra_storage_data "${CMAKE_BINARY_DIR}/storage-testdata")
add_custom_command(
  OUTPUT "${_veltra_storage_data}/stamp"
  COMMAND ${CMAKE_COMMAND} "-DOUT=${_veltra_storage_data}" "-DPYTHON=${VELTRA_PYTHON3}"
          "-DPKGMAKER=${CMAKE_SOURCE_DIR}/tools/pkgmaker/pkgmaker.py"
          -P "${CMAKE_CURRENT_LIST_FILE}"
  DEPENDS "${CMAKE_CURRENT_LIST_FILE}" "${CMAKE_SOURCE_DIR}/tools/pkgmaker/pkgmaker.py"
  COMMENT "Making the compound files for the storage tests"
  VERBATIM)
add_custom_target(veltra_storage_testdata DEPENDS "${_veltra_storage_data}/stamp")
add_dependencies(wine_tests veltra_storage_testdata)
# A Linux path; the tests reach it through Wine's drive Z:.
target_compile_definitions(wine_tests PRIVATE
  VELTRA_STORAGE_TESTDATA="${_veltra_storage_data}")
