# Native build: in-memory fakes of the platform and the unit tests.
file(GLOB VELTRA_FAKE_SOURCES CONFIGURE_DEPENDS platform/fake/*.cpp)
add_library(veltra_fakes STATIC ${VELTRA_FAKE_SOURCES})
target_link_libraries(veltra_fakes PUBLIC veltra_common)
target_compile_options(veltra_fakes PRIVATE ${VELTRA_WARNINGS})

file(GLOB VELTRA_UNIT_TESTS CONFIGURE_DEPENDS tests/unit/*.cpp)
add_executable(unit_tests ${VELTRA_UNIT_TESTS})
target_link_libraries(unit_tests PRIVATE veltra_launcher veltra_fakes GTest::gmock GTest::gtest_main)
target_compile_options(unit_tests PRIVATE ${VELTRA_WARNINGS})
gtest_discover_tests(unit_tests DISCOVERY_MODE PRE_TEST)

file(GLOB VELTRA_NATIVE_EXTRAS CONFIGURE_DEPENDS cmake/native.d/*.cmake)
foreach(extra ${VELTRA_NATIVE_EXTRAS})
  include(${extra})
endforeach()
