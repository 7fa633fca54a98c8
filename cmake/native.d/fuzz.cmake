# libFuzzer targets, in a clang build of their own (-DVELTRA_FUZZ=ON). Each
# target compiles the few sources it needs itself, so that no library of the
# project has to be built with the fuzzer's instrumentation.
if(VELTRA_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VELTRA_FUZZ needs clang (CXX=clang++)")
  endif()

  function(veltra_fuzz_target name)
    add_executable(${name} ${ARGN})
    target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR})
    target_compile_options(${name} PRIVATE ${VELTRA_WARNINGS} -fsanitize=fuzzer,address,undefined)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  endfunction()

  veltra_fuzz_target(propertyset_fuzz tests/fuzz/PropertySetFuzz.cpp store/PropertySet.cpp
                     store/CompoundFileCheck.cpp common/Text.cpp)
  veltra_fuzz_target(json_fuzz tests/fuzz/JsonFuzz.cpp device/Json.cpp common/Text.cpp)
  veltra_fuzz_target(setcookie_fuzz tests/fuzz/SetCookieFuzz.cpp device/HttpClient.cpp
                     common/Text.cpp)
  veltra_fuzz_target(itempath_fuzz tests/fuzz/ItemPathFuzz.cpp store/ArchiveExtraction.cpp
                     store/FolderUtils.cpp store/PropertySet.cpp store/CompoundFileCheck.cpp
                     common/Paths.cpp common/Text.cpp)
  veltra_fuzz_target(compoundfile_fuzz tests/fuzz/CompoundFileFuzz.cpp
                     store/CompoundFileCheck.cpp)
  veltra_fuzz_target(params_fuzz tests/fuzz/ParamsFuzz.cpp launcher/StartupOptions.cpp
                     common/Text.cpp)
  veltra_fuzz_target(commandline_fuzz tests/fuzz/CommandLineFuzz.cpp launcher/StartupOptions.cpp
                     common/Text.cpp)
  # Built by the fuzz step of scripts/test.sh.
  add_custom_target(fuzz_targets DEPENDS propertyset_fuzz json_fuzz setcookie_fuzz itempath_fuzz
                                         compoundfile_fuzz params_fuzz commandline_fuzz)
endif()
