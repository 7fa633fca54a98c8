# Cross build: the real program on platform/win32/ and the Wine tests.
enable_language(RC)

set(VELTRA_WIN32_LIBS comctl32 comdlg32 ole32 oleaut32 uuid shell32 shlwapi winhttp ws2_32
    version advapi32 gdi32 user32)

file(GLOB VELTRA_WIN32_SOURCES CONFIGURE_DEPENDS platform/win32/*.cpp)
add_library(veltra_win32 STATIC ${VELTRA_WIN32_SOURCES})
target_link_libraries(veltra_win32 PUBLIC veltra_common ${VELTRA_WIN32_LIBS})
target_compile_options(veltra_win32 PRIVATE ${VELTRA_WARNINGS})
target_compile_definitions(veltra_win32 PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                           _WIN32_WINNT=0x0601)

add_executable(VeltraDynamicRemoteHMI WIN32 platform/win32/main/WinMain.cpp
               platform/win32/main/VeltraDynamicRemoteHMI.rc)
target_link_libraries(VeltraDynamicRemoteHMI PRIVATE veltra_launcher veltra_win32)
target_compile_options(VeltraDynamicRemoteHMI PRIVATE ${VELTRA_WARNINGS})
target_link_options(VeltraDynamicRemoteHMI PRIVATE -municode)

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
