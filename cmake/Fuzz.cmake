# libFuzzer targets, built with clang in a build directory of their own:
#   cmake -S . -B build-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
#         -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQEL_FUZZ=ON
#   cmake --build build-fuzz --target fuzz_menu_file
# tests/fuzz/run.sh <seconds> does both and runs the target for a bounded time; in that build
# directory CTest also runs it (QEL_FUZZ_SECONDS, default 30).
option(QEL_FUZZ "Build the libFuzzer targets (needs clang)" OFF)
set(QEL_FUZZ_SECONDS 30 CACHE STRING "Seconds the fuzz.* tests of CTest run each target")

if(QEL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QEL_FUZZ needs clang: -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++")
  endif()
  set(qel_fuzz_sanitizers -fsanitize=address,undefined -fno-sanitize-recover=all
                          -fno-omit-frame-pointer)
  if(NOT TARGET qel_fake)
    file(GLOB qel_fuzz_fake_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/fake/*.cpp)
    add_library(qel_fake STATIC ${qel_fuzz_fake_sources})
    target_include_directories(qel_fake PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/tests)
    target_link_libraries(qel_fake PUBLIC qel_core)
  endif()
  # The code under test is instrumented for coverage; only the target links libFuzzer's main.
  foreach(instrumented IN ITEMS qel_core qel_fake)
    target_compile_options(${instrumented} PRIVATE -fsanitize=fuzzer-no-link ${qel_fuzz_sanitizers})
  endforeach()

  add_executable(fuzz_menu_file ${CMAKE_CURRENT_SOURCE_DIR}/tests/fuzz/MenuFileFuzz.cpp)
  target_compile_options(fuzz_menu_file PRIVATE -fsanitize=fuzzer ${qel_fuzz_sanitizers})
  target_link_options(fuzz_menu_file PRIVATE -fsanitize=fuzzer ${qel_fuzz_sanitizers})
  target_link_libraries(fuzz_menu_file PRIVATE qel_fake qel_core)

  if(QEL_BUILD_TESTS)
    add_test(NAME fuzz.menu_file
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/tests/fuzz/run.sh ${QEL_FUZZ_SECONDS}
                     ${CMAKE_BINARY_DIR})
    set_tests_properties(fuzz.menu_file PROPERTIES ENVIRONMENT QEL_FUZZ_NO_BUILD=1)
  endif()
endif()
