# The archives with which tests/wine/ArchiveLibraryTest.cpp and
# tests/wine/ImageCacheTest.cpp check what the launcher does with an archive
# that fails half-way or holds more than it says. Made at build time on the
# Linux side by tools/pkgmaker/pkgmaker.py; this same file does that work when
# run as a script:
#   cmake -DOUT=<folder> -DPYTHON=<python3> -DPKGMAKER=<pkgmaker.py> -P archive-limits-testdata.cmake
#
# Layout of <folder>:
#   crc-later.zip   bin/javaw.exe sound, then lib/rt.jar with a wrong CRC-32
#   sound.zip       the same two members, both sound
#   zeros.gz        data.bin, 1 MiB of zeros, its size stated truly
#   size-lie.gz     the same member, its size stated as 1000 bytes

if(CMAKE_SCRIPT_MODE_FILE)
  include(${CMAKE_CURRENT_LIST_DIR}/../TestDataScript.cmake)

  file(REMOVE_RECURSE "${OUT}")
  file(MAKE_DIRECTORY "${OUT}")

  # Large enough that the library writes the runtime library in more than
  # one piece before it finds the checksum wrong.
  veltra_testdata_run("writing the members" "${PYTHON}" -c [=[
import random, sys
out = sys.argv[1]
with open(out + "/rt.jar", "wb") as f:
    f.write(random.Random(5).randbytes(300000))
with open(out + "/zeros.bin", "wb") as f:
    f.write(bytes(1 << 20))
]=] "${OUT}")

  set(_members --item-text "bin/javaw.exe=MZ sound launcher" --item "lib/rt.jar=${OUT}/rt.jar")
  veltra_testdata_pkgmaker(zip "${OUT}/crc-later.zip" ${_members} --bad-crc "lib/rt.jar")
  veltra_testdata_pkgmaker(zip "${OUT}/sound.zip" ${_members})
  veltra_testdata_pkgmaker(gz "${OUT}/zeros.gz" --item "data.bin=${OUT}/zeros.bin")
  veltra_testdata_pkgmaker(gz "${OUT}/size-lie.gz" --item "data.bin=${OUT}/zeros.bin"
                           --claim-size 1000)
  file(REMOVE "${OUT}/rt.jar" "${OUT}/zeros.bin")

  file(TOUCH "${OUT}/stamp")
  return()
endif()

find_program(VELTRA_PYTHON3 python3 REQUIRED)

set(_veltra_limits_data "${CMAKE_BINARY_DIR}/archive-limits-testdata")
add_custom_command(
  OUTPUT "${_veltra_limits_data}/stamp"
  COMMAND ${CMAKE_COMMAND} "-DOUT=${_veltra_limits_data}" "-DPYTHON=${VELTRA_PYTHON3}"
          "-DPKGMAKER=${CMAKE_SOURCE_DIR}/tools/pkgmaker/pkgmaker.py"
          -P "${CMAKE_CURRENT_LIST_FILE}"
  DEPENDS "${CMAKE_CURRENT_LIST_FILE}" "${CMAKE_SOURCE_DIR}/tools/pkgmaker/pkgmaker.py"
  COMMENT "Making the damaged and oversized archives for the archive tests"
  VERBATIM)
add_custom_target(veltra_archive_limits_testdata DEPENDS "${_veltra_limits_data}/stamp")
add_dependencies(wine_tests veltra_archive_limits_testdata)
# A Linux path; the tests reach it through Wine's drive Z:.
target_compile_definitions(wine_tests PRIVATE
  VELTRA_ARCHIVE_LIMITS_TESTDATA="${_veltra_limits_data}")
