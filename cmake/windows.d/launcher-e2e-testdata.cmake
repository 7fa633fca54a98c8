# The archives and package files that tests/wine/LauncherDeviceTest.cpp and
# tests/wine/LauncherPackageTest.cpp hand to the real launcher: what the device
# simulator serves for download, and the packages an operator imports. Made
# at build time on the Linux side by tools/pkgmaker/pkgmaker.py; this same
# file does that work when run as a script:
#   cmake -DOUT=<folder> -DPYTHON=<python3> -DPKGMAKER=<pkgmaker.py> -P launcher-e2e-testdata.cmake
#
# Layout of <folder>:
#   trees/download/...          what the good device archives hold
#   trees/package/...           what the good package's Contents holds
#   device/good/jre|lib/...     a device whose archives install cleanly
#   device/nojavaw/jre/...      a JRE archive without bin/javaw.exe
#   device/truncated/jre/...    a JRE archive cut in the middle of its data
#   device/roomless/jre/...     a JRE archive of a few hundred bytes whose items
#                               state 9 GiB, more than any image may take
#   packages/<kind>/Veltra_410.VeltraDynamicRemoteHMI.KL7zip
#                               good, wrongcase (package type in other letter
#                               case), numeric (a property stored as VT_I4)

if(CMAKE_SCRIPT_MODE_FILE)
  include(${CMAKE_CURRENT_LIST_DIR}/../TestDataScript.cmake)

  file(REMOVE_RECURSE "${OUT}")
  file(MAKE_DIRECTORY "${OUT}/trees/download/bin" "${OUT}/trees/download/lib"
       "${OUT}/trees/package/jre/bin" "${OUT}/trees/package/lib" "${OUT}/device/good/jre"
       "${OUT}/device/good/lib" "${OUT}/device/nojavaw/jre" "${OUT}/device/truncated/jre"
       "${OUT}/device/roomless/jre"
       "${OUT}/packages/good" "${OUT}/packages/wrongcase" "${OUT}/packages/numeric")

  # The marker files. The downloaded javaw.exe is incompressible and large
  # enough that cutting its archive in half lands inside its data; each file
  # says where it came from, so a test can tell a downloaded image from one
  # installed from a package.
  veltra_testdata_run("writing the marker files" "${PYTHON}" -c [=[
import random, sys
out = sys.argv[1]
with open(out + "/trees/download/bin/javaw.exe", "wb") as f:
    f.write(b"MZ downloaded JRE\n" + random.Random(11).randbytes(96000))
with open(out + "/trees/download/lib/config-gui.jar", "wb") as f:
    f.write(b"PK downloaded HMI binaries\n")
with open(out + "/trees/package/jre/bin/javaw.exe", "wb") as f:
    f.write(b"MZ packaged JRE\n")
with open(out + "/trees/package/lib/config-gui.jar", "wb") as f:
    f.write(b"PK packaged HMI binaries\n")
]=] "${OUT}")

  set(_jre "jre_v_17.0.2.zip")
  set(_lib "lib_hmi_full_410_7_r.zip")
  veltra_testdata_pkgmaker(zip "${OUT}/device/good/jre/${_jre}"
                       --item "bin/javaw.exe=${OUT}/trees/download/bin/javaw.exe"
                       --item-text "lib/rt.txt=runtime classes")
  veltra_testdata_pkgmaker(zip "${OUT}/device/good/lib/${_lib}"
                       --item "config-gui.jar=${OUT}/trees/download/lib/config-gui.jar")
  # A runtime that extracts cleanly but has no launcher program in it.
  veltra_testdata_pkgmaker(zip "${OUT}/device/nojavaw/jre/${_jre}" --item-text "bin/java.exe=MZ"
                       --item-text "lib/rt.txt=runtime classes")
  file(SIZE "${OUT}/device/good/jre/${_jre}" _size)
  math(EXPR _half "${_size} / 2")
  veltra_testdata_pkgmaker(truncate "${OUT}/device/good/jre/${_jre}"
                       "${OUT}/device/truncated/jre/${_jre}" --bytes ${_half})

  # Three deflated members, each stating 3 GiB (below the 4 GiB a plain zip
  # entry can state) in its local header and the central directory alike:
  # the items say 9 GiB, and the launcher must refuse them before writing
  # anything, so the data never has to match.
  veltra_testdata_run("writing the roomless archive" "${PYTHON}" -c [=[
import struct, sys, zlib
stated = 3 << 30
local, central = b"", b""
for name in (b"bin/javaw.exe", b"lib/rt.jar", b"lib/modules"):
    squeeze = zlib.compressobj(9, zlib.DEFLATED, -15)
    data = squeeze.compress(b"MZ") + squeeze.flush()
    crc = zlib.crc32(b"MZ")
    offset = len(local)
    local += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 8, 0, 0x5821, crc, len(data),
                         stated, len(name), 0) + name + data
    central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 8, 0, 0x5821, crc,
                           len(data), stated, len(name), 0, 0, 0, 0, 0, offset) + name
end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 3, 3, len(central), len(local), 0)
with open(sys.argv[1], "wb") as f:
    f.write(local + central + end)
]=] "${OUT}/device/roomless/jre/${_jre}")

  set(_name "Veltra_410.VeltraDynamicRemoteHMI.KL7zip")
  set(_common --prop "timestamp=2024-05-06T07:08:09Z")
  set(_tail --prop "jre version=17.0.9" --prop "product type=Q614" --prop "release version=4.10")
  veltra_testdata_pkgmaker(package "${OUT}/packages/good/${_name}" --tree "${OUT}/trees/package"
                       ${_common} --prop "compatibility level=1"
                       --prop "package type=VeltraDynamicRemoteHMIArchive" ${_tail})
  veltra_testdata_pkgmaker(package "${OUT}/packages/wrongcase/${_name}" --tree "${OUT}/trees/package"
                       ${_common} --prop "compatibility level=1"
                       --prop "package type=veltraDynamicRemoteHMIArchive" ${_tail})
  veltra_testdata_pkgmaker(package "${OUT}/packages/numeric/${_name}" --tree "${OUT}/trees/package"
                       ${_common} --prop-int "compatibility level=1"
                       --prop "package type=VeltraDynamicRemoteHMIArchive" ${_tail})

  file(TOUCH "${OUT}/stamp")
  return()
endif()

find_program(VELTRA_PYTHON3 python3 REQUIRED)
find_program(VELTRA_7Z_TOOL 7z REQUIRED)

set(_veltra_e2e_data "${CMAKE_BINARY_DIR}/launcher-testdata")
add_custom_command(
  OUTPUT "${_veltra_e2e_data}/stamp"
  COMMAND ${CMAKE_COMMAND} "-DOUT=${_veltra_e2e_data}" "-DPYTHON=${VELTRA_PYTHON3}"
          "-DPKGMAKER=${CMAKE_SOURCE_DIR}/tools/pkgmaker/pkgmaker.py"
          -P "${CMAKE_CURRENT_LIST_FILE}"
  DEPENDS "${CMAKE_CURRENT_LIST_FILE}" "${CMAKE_SOURCE_DIR}/tools/pkgmaker/pkgmaker.py"
  COMMENT "Making the archives and packages for the launcher tests"
  VERBATIM)
add_custom_target(veltra_launcher_testdata DEPENDS "${_veltra_e2e_data}/stamp")
add_dependencies(wine_tests veltra_launcher_testdata)
# A Linux path; the tests reach it through Wine's drive Z:.
target_compile_definitions(wine_tests PRIVATE
  VELTRA_LAUNCHER_TESTDATA="${_veltra_e2e_data}")
