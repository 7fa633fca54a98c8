# Cross build: the real program on platform/win32/ and the Wine tests.
enable_language(RC)

# DLLs that no start-up step needs are loaded on their first call, not
# before the window can show: under Wine each one loaded (with what it pulls
# in: the shell brings six more) delays the window by a few milliseconds.
set(VELTRA_DELAYED_DLLS comdlg32 crypt32 ole32 oleaut32 shell32 winhttp ws2_32)
find_program(VELTRA_DLLTOOL NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-dlltool REQUIRED)
find_program(VELTRA_NM NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-nm REQUIRED)
set(VELTRA_DELAYED_LIBS "")
foreach(dll ${VELTRA_DELAYED_DLLS})
  find_library(VELTRA_IMPLIB_${dll} NAMES ${dll} REQUIRED)
  set(out ${CMAKE_BINARY_DIR}/delay-imports/lib${dll}_delay.a)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DIMPLIB=${VELTRA_IMPLIB_${dll}} -DOUT=${out} -DNM=${VELTRA_NM}
            -DDLLTOOL=${VELTRA_DLLTOOL} -P ${CMAKE_SOURCE_DIR}/cmake/DelayImportLib.cmake
    DEPENDS ${CMAKE_SOURCE_DIR}/cmake/DelayImportLib.cmake ${VELTRA_IMPLIB_${dll}}
    COMMENT "Delay-load import library for ${dll}")
  list(APPEND VELTRA_DELAYED_LIBS ${out})
endforeach()
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/delay-imports)
add_custom_target(veltra_delay_imports DEPENDS ${VELTRA_DELAYED_LIBS})

set(VELTRA_WIN32_LIBS comctl32 uuid shlwapi version advapi32 gdi32 user32
    ${VELTRA_DELAYED_LIBS} delayimp)

file(GLOB VELTRA_WIN32_SOURCES CONFIGURE_DEPENDS platform/win32/*.cpp)
add_library(veltra_win32 STATIC ${VELTRA_WIN32_SOURCES})
add_dependencies(veltra_win32 veltra_delay_imports)
target_link_libraries(veltra_win32 PUBLIC veltra_common ${VELTRA_WIN32_LIBS})
target_compile_options(veltra_win32 PRIVATE ${VELTRA_WARNINGS})
target_compile_definitions(veltra_win32 PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                           _WIN32_WINNT=0x0601)

# One version for everything: project(VERSION) in CMakeLists.txt feeds the
# executable's version record, its manifest and (through version.txt) the
# installer that scripts/make-installer.sh makes.
string(REPLACE "." "," VELTRA_VERSION_COMMAS "${PROJECT_VERSION}")
set(VELTRA_MAIN_SOURCE_DIR ${CMAKE_SOURCE_DIR}/platform/win32/main)
set(VELTRA_MANIFEST_FILE ${CMAKE_BINARY_DIR}/generated/VeltraDynamicRemoteHMI.manifest)
configure_file(${VELTRA_MAIN_SOURCE_DIR}/VeltraDynamicRemoteHMI.manifest.in ${VELTRA_MANIFEST_FILE}
               @ONLY)
configure_file(${VELTRA_MAIN_SOURCE_DIR}/VeltraDynamicRemoteHMI.rc.in
               ${CMAKE_BINARY_DIR}/generated/VeltraDynamicRemoteHMI.rc @ONLY)
file(WRITE ${CMAKE_BINARY_DIR}/version.txt.new "${PROJECT_VERSION}\n")
file(COPY_FILE ${CMAKE_BINARY_DIR}/version.txt.new ${CMAKE_BINARY_DIR}/version.txt ONLY_IF_DIFFERENT)

add_executable(VeltraDynamicRemoteHMI WIN32 platform/win32/main/WinMain.cpp
               ${CMAKE_BINARY_DIR}/generated/VeltraDynamicRemoteHMI.rc)
set_source_files_properties(${CMAKE_BINARY_DIR}/generated/VeltraDynamicRemoteHMI.rc PROPERTIES
  OBJECT_DEPENDS "${VELTRA_MANIFEST_FILE};${VELTRA_MAIN_SOURCE_DIR}/VeltraDynamicRemoteHMI.ico")
target_link_libraries(VeltraDynamicRemoteHMI PRIVATE veltra_launcher veltra_win32)
target_compile_options(VeltraDynamicRemoteHMI PRIVATE ${VELTRA_WARNINGS})
target_link_options(VeltraDynamicRemoteHMI PRIVATE -municode)

# The installer's helper that writes the settings file of a fleet install
# (PACKAGEFOLDER); a console program, run by the installer only.
add_executable(InstallSettings platform/win32/main/InstallSettings.cpp)
target_link_libraries(InstallSettings PRIVATE veltra_win32)
target_compile_options(InstallSettings PRIVATE ${VELTRA_WARNINGS})
target_link_options(InstallSettings PRIVATE -municode)

file(GLOB VELTRA_WINE_TESTS CONFIGURE_DEPENDS tests/wine/*.cpp)
add_executable(wine_tests ${VELTRA_WINE_TESTS})
target_link_libraries(wine_tests PRIVATE veltra_launcher veltra_win32 GTest::gmock GTest::gtest_main)
target_compile_options(wine_tests PRIVATE ${VELTRA_WARNINGS})
target_compile_definitions(wine_tests PRIVATE
  VELTRA_LAUNCHER_EXE="$<TARGET_FILE:VeltraDynamicRemoteHMI>")
add_dependencies(wine_tests VeltraDynamicRemoteHMI)
gtest_discover_tests(wine_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                     PROPERTIES TIMEOUT 300)

file(GLOB VELTRA_WINDOWS_EXTRAS CONFIGURE_DEPENDS cmake/windows.d/*.cmake)
foreach(extra ${VELTRA_WINDOWS_EXTRAS})
  include(${extra})
endforeach()
