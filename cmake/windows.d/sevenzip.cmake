# The archive library 7z.dll beside the built programs, and the archives the
# Wine tests open with it.
#
# The launcher loads the library by its bare name through the system's DLL
# search, which looks in the program's folder first; the copy is a build step,
# so ctest finds it without an install.
#
# The test archives are made on the Linux side at build time, by
# tools/pkgmaker/pkgmaker.py and the Linux 7z, because a test running under
# Wine cannot easily start Linux programs. This same file does that work when
# run as a script:
#   cmake -DOUT=<folder> -DPYTHON=<python3> -DPKGMAKER=<pkgmaker.py> -P sevenzip.cmake

if(CMAKE_SCRIPT_MODE_FILE)
  include(${CMAKE_CURRENT_LIST_DIR}/../TestDataScript.cmake)

  file(REMOVE_RECURSE "${OUT}")
  file(MAKE_DIRECTORY "${OUT}/tree/bin" "${OUT}/tree/docs")

  # The tree the good archives hold: an incompressible file large enough to
  # span many buffers, text with both line break kinds (nothing may convert
  # them) and an empty file.
  veltra_testdata_run("writing the test tree" "${PYTHON}" -c [=[
import random, sys
out = sys.argv[1]
with open(out + "/tree/bin/data.bin", "wb") as f:
    f.write(random.Random(7).randbytes(150000) + bytes(range(256)) * 64)
with open(out + "/tree/docs/readme.txt", "wb") as f:
    f.write(b"line one\r\nline two\nno final break")
open(out + "/tree/empty.txt", "wb").close()
]=] "${OUT}")

  veltra_testdata_pkgmaker(zip "${OUT}/good.zip" --tree "${OUT}/tree")
  veltra_testdata_pkgmaker(7z "${OUT}/good.7z" --tree "${OUT}/tree")

  # Names that must reach the caller exactly as stored.
  set(_hostile
    --item-text "../evil.txt=evil"
    --item-text "a/../../x.txt=x"
    --item-text "/abs/root.txt=root"
    --item-text "C:\\x.txt=drive"
    --item-text "dir\\back\\slash.txt=back"
    --item-text "Grüße/naïve.txt=unicode")
  veltra_testdata_pkgmaker(zip "${OUT}/hostile.zip" ${_hostile})
  veltra_testdata_pkgmaker(7z "${OUT}/hostile.7z" ${_hostile})

  # Cut in the middle of the data: no central directory is left.
  file(SIZE "${OUT}/good.zip" _size)
  math(EXPR _half "${_size} / 2")
  veltra_testdata_pkgmaker(truncate "${OUT}/good.zip" "${OUT}/truncated.zip" --bytes ${_half})

  # One bit flipped well inside the packed data; the headers at the end stay
  # intact, so the archive still opens.
  veltra_testdata_run("writing damaged.7z" "${PYTHON}" -c [=[
import sys
with open(sys.argv[1], "rb") as f:
    data = bytearray(f.read())
data[32 + 4096] ^= 0x10
with open(sys.argv[2], "wb") as f:
    f.write(data)
]=] "${OUT}/good.7z" "${OUT}/damaged.7z")

  file(WRITE "${OUT}/not-an-archive.txt" "This is plain text, not an archive.\n")

  veltra_testdata_pkgmaker(package "${OUT}/package.pkg" --contents-file "${OUT}/good.7z"
                   --prop "Title=Archive test")

  file(TOUCH "${OUT}/stamp")
  return()
endif()

# --- The library beside the programs -----------------------------------------

set(_veltra_default_7z_dll "${CMAKE_SOURCE_DIR}/build/third_party/7z.dll")
set(VELTRA_7Z_DLL "${_veltra_default_7z_dll}" CACHE FILEPATH
    "The 64-bit Windows archive library copied beside the programs")

if(VELTRA_7Z_DLL STREQUAL _veltra_default_7z_dll)
  # Made by scripts/build-7z.sh when missing; the script skips the work when
  # the library is newer than the script.
  get_filename_component(_veltra_7z_dir "${VELTRA_7Z_DLL}" DIRECTORY)
  add_custom_command(
    OUTPUT "${VELTRA_7Z_DLL}"
    COMMAND bash "${CMAKE_SOURCE_DIR}/scripts/build-7z.sh" "${_veltra_7z_dir}"
    DEPENDS "${CMAKE_SOURCE_DIR}/scripts/build-7z.sh"
    COMMENT "Building the archive library 7z.dll"
    USES_TERMINAL VERBATIM)
elseif(NOT EXISTS "${VELTRA_7Z_DLL}")
  message(FATAL_ERROR "VELTRA_7Z_DLL: ${VELTRA_7Z_DLL} does not exist")
endif()

if(CMAKE_RUNTIME_OUTPUT_DIRECTORY)
  set(_veltra_exe_dir "${CMAKE_RUNTIME_OUTPUT_DIRECTORY}")
else()
  set(_veltra_exe_dir "${CMAKE_BINARY_DIR}")
endif()
add_custom_command(
  OUTPUT "${_veltra_exe_dir}/7z.dll"
  COMMAND ${CMAKE_COMMAND} -E copy "${VELTRA_7Z_DLL}" "${_veltra_exe_dir}/7z.dll"
  DEPENDS "${VELTRA_7Z_DLL}"
  COMMENT "Copying 7z.dll beside the programs"
  VERBATIM)
add_custom_target(veltra_7z_dll ALL DEPENDS "${_veltra_exe_dir}/7z.dll")
add_dependencies(VeltraDynamicRemoteHMI veltra_7z_dll)
add_dependencies(wine_tests veltra_7z_dll)

# --- Archives for tests/wine/ArchiveLibraryTest.cpp ---------------------------

find_program(VELTRA_PYTHON3 python3 REQUIRED)
# pkgmaker.py makes 7z archives with it.
find_program(VELTRA_7Z_TOOL 7z REQUIRED)

set(_veltra_archive_data "${CMAKE_BINARY_DIR}/archive-testdata")
add_custom_command(
  OUTPUT "${_veltra_archive_data}/stamp"
  COMMAND ${CMAKE_COMMAND} "-DOUT=${_veltra_archive_data}" "-DPYTHON=${VELTRA_PYTHON3}"
          "-DPKGMAKER=${CMAKE_SOURCE_DIR}/tools/pkgmaker/pkgmaker.py"
          -P "${CMAKE_CURRENT_LIST_FILE}"
  DEPENDS "${CMAKE_CURRENT_LIST_FILE}" "${CMAKE_SOURCE_DIR}/tools/pkgmaker/pkgmaker.py"
  COMMENT "Making the archives for the archive library tests"
  VERBATIM)
add_custom_target(veltra_archive_testdata DEPENDS "${_veltra_archive_data}/stamp")
add_dependencies(wine_tests veltra_archive_testdata)
# A Linux path; the tests reach it through Wine's drive Z:.
target_compile_definitions(wine_tests PRIVATE
  VELTRA_ARCHIVE_TESTDATA="${_veltra_archive_data}")
