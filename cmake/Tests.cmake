# GoogleTest from Debian's source package, built with the project's own flags.
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
if(NOT TARGET gtest)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # GoogleTest's own sources are not held to the project's warning rules.
  target_compile_options(gtest PRIVATE -w)
  target_compile_options(gtest_main PRIVATE -w)
endif()

if(NOT WIN32)
  # The in-memory fake machine behind the seam.
  file(GLOB qel_fake_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/fake/*.cpp)
  add_library(qel_fake STATIC ${qel_fake_sources})
  target_include_directories(qel_fake PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/tests)
  target_link_libraries(qel_fake PUBLIC qel_core)

  # One test program per area of tests/native/, so that each area builds and runs on its own.
  file(GLOB qel_native_areas LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/tests/native/*)
  foreach(area_dir IN LISTS qel_native_areas)
    if(NOT IS_DIRECTORY ${area_dir})
      continue()
    endif()
    get_filename_component(area ${area_dir} NAME)
    file(GLOB area_tests CONFIGURE_DEPENDS ${area_dir}/*.cpp)
    if(NOT area_tests)
      continue()
    endif()
    add_executable(test_${area} ${area_tests})
    target_link_libraries(test_${area} PRIVATE qel_fake qel_core gtest gtest_main)
    add_test(NAME native.${area} COMMAND test_${area})
  endforeach()
endif()
