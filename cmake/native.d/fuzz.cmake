# libFuzzer targets, in a clang build of their own (-DVELTRA_FUZZ=ON).
if(VELTRA_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VELTRA_FUZZ needs clang (CXX=clang++)")
  endif()
  add_executable(propertyset_fuzz tests/fuzz/PropertySetFuzz.cpp store/PropertySet.cpp
                                  store/CompoundFileCheck.cpp
                                  common/Text.cpp)
  target_include_directories(propertyset_fuzz PRIVATE ${CMAKE_SOURCE_DIR})
  target_compile_options(propertyset_fuzz PRIVATE ${VELTRA_WARNINGS}
                         -fsanitize=fuzzer,address,undefined)
  target_link_options(propertyset_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
endif()
