# The stand-in HMI (tools/standin-hmi/): a small Windows program that tests
# and the demo put into a JRE image as bin\javaw.exe, so that the launcher has
# an HMI to start, follow and type into. Built into its own folder as
# javaw.exe, so that nothing else in the build tree takes that name.
#
# Then, at build time, the device archives that carry it, laid out as the
# device simulator's files_dir (tools/devsim/README.md):
#   standin-testdata/jre/jre_v_17.0.2.zip         bin/javaw.exe = the stand-in
#   standin-testdata/lib/lib_hmi_full_410_7_r.zip config-gui.jar
# The names are those the simulator's default device announces.

add_executable(standin_hmi WIN32
  tools/standin-hmi/StandinHmi.cpp
  tools/standin-hmi/StandinConfig.cpp
  tools/standin-hmi/Journal.cpp)
set_target_properties(standin_hmi PROPERTIES
  OUTPUT_NAME javaw
  RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}/standin-hmi/bin")
target_include_directories(standin_hmi PRIVATE ${CMAKE_SOURCE_DIR})
target_compile_options(standin_hmi PRIVATE ${VELTRA_WARNINGS})
target_compile_definitions(standin_hmi PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                           _WIN32_WINNT=0x0601)
target_link_options(standin_hmi PRIVATE -static -municode)
target_link_libraries(standin_hmi PRIVATE user32 gdi32 advapi32 shell32)

find_program(VELTRA_PYTHON3 python3 REQUIRED)

set(_veltra_standin_data "${CMAKE_BINARY_DIR}/standin-testdata")
set(_veltra_standin_jre "${_veltra_standin_data}/jre/jre_v_17.0.2.zip")
set(_veltra_standin_lib "${_veltra_standin_data}/lib/lib_hmi_full_410_7_r.zip")
set(_veltra_pkgmaker "${CMAKE_SOURCE_DIR}/tools/pkgmaker/pkgmaker.py")
add_custom_command(
  OUTPUT "${_veltra_standin_jre}" "${_veltra_standin_lib}"
  COMMAND ${CMAKE_COMMAND} -E make_directory "${_veltra_standin_data}/jre"
          "${_veltra_standin_data}/lib"
  COMMAND "${VELTRA_PYTHON3}" "${_veltra_pkgmaker}" zip "${_veltra_standin_jre}"
          --item "bin/javaw.exe=$<TARGET_FILE:standin_hmi>"
  COMMAND "${VELTRA_PYTHON3}" "${_veltra_pkgmaker}" zip "${_veltra_standin_lib}"
          --item-text "config-gui.jar=PK stand-in HMI binaries"
  DEPENDS standin_hmi "${_veltra_pkgmaker}"
  COMMENT "Making the device archives that carry the stand-in HMI"
  VERBATIM)
add_custom_target(veltra_standin_testdata ALL
                  DEPENDS "${_veltra_standin_jre}" "${_veltra_standin_lib}")

add_dependencies(wine_tests standin_hmi veltra_standin_testdata)
# A Linux path; the tests reach it through Wine's drive Z:.
target_compile_definitions(wine_tests PRIVATE
  VELTRA_STANDIN_TESTDATA="${_veltra_standin_data}"
  VELTRA_STANDIN_EXE="$<TARGET_FILE:standin_hmi>")
