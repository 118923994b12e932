# The Windows program QELDuzu.exe, the Win32 side of the seam, the programs and resources it
# carries, and the tests that run under Wine. Included by the root only when cross-compiling.

set(QEL_WIN32_SYSTEM_LIBRARIES comctl32 shell32 gdi32 user32 advapi32 kernel32 ole32 uuid ntdll)

# Wine runs the x86_64 test programs; each build folder keeps its own prefix.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh
      ${CMAKE_BINARY_DIR}/wineprefix)
endif()

# The Win32 implementation of the seam: every file of src/win32 but the program's entry.
file(GLOB qel_win32_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/win32/*.cpp)
list(FILTER qel_win32_sources EXCLUDE REGEX "/WinMain\\.cpp$")
if(qel_win32_sources)
  add_library(qel_win32 STATIC ${qel_win32_sources})
  target_include_directories(qel_win32 PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_compile_definitions(qel_win32 PUBLIC UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  target_link_libraries(qel_win32 PUBLIC qel_core ${QEL_WIN32_SYSTEM_LIBRARIES})
else()
  add_library(qel_win32 INTERFACE)
  target_link_libraries(qel_win32 INTERFACE qel_core ${QEL_WIN32_SYSTEM_LIBRARIES})
endif()

# Small Windows programs the payload or the resources carry.
foreach(tool IN ITEMS f32-missing syslinux companion)
  if(EXISTS ${CMAKE_SOURCE_DIR}/tools/${tool}/CMakeLists.txt)
    add_subdirectory(${CMAKE_SOURCE_DIR}/tools/${tool} ${CMAKE_BINARY_DIR}/tools/${tool})
  endif()
endforeach()

# The resource script: manifest, payload, 7-Zip and the formatter (target qel_resources).
if(EXISTS ${CMAKE_SOURCE_DIR}/src/resources/CMakeLists.txt)
  add_subdirectory(${CMAKE_SOURCE_DIR}/src/resources ${CMAKE_BINARY_DIR}/resources)
endif()

function(qel_add_resources target)
  if(TARGET qel_resources)
    target_link_libraries(${target} PRIVATE qel_resources)
  endif()
endfunction()

# The program.
if(EXISTS ${CMAKE_SOURCE_DIR}/src/win32/WinMain.cpp)
  add_executable(QELDuzu WIN32 ${CMAKE_SOURCE_DIR}/src/win32/WinMain.cpp)
  target_compile_definitions(QELDuzu PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  target_link_options(QELDuzu PRIVATE -municode)
  target_link_libraries(QELDuzu PRIVATE qel_win32 qel_core)
  qel_add_resources(QELDuzu)
endif()

# The tests of the Win32 side, run under Wine through the emulator.
file(GLOB qel_wine_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/wine/*.cpp)
if(QEL_BUILD_TESTS AND qel_wine_tests)
  add_executable(test_wine ${qel_wine_tests})
  target_compile_definitions(test_wine PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  target_include_directories(test_wine PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(test_wine PRIVATE qel_win32 qel_core gtest gtest_main)
  qel_add_resources(test_wine)
  add_test(NAME wine.win32 COMMAND test_wine --gtest_filter=-Win32RemovableDrive.*)
  set_tests_properties(wine.win32 PROPERTIES TIMEOUT 300)
  add_test(NAME wine.removable-drive
           COMMAND bash ${CMAKE_SOURCE_DIR}/tests/wine/removable-drive.sh ${CMAKE_BINARY_DIR}
                   $<TARGET_FILE:test_wine>)
  set_tests_properties(wine.removable-drive PROPERTIES TIMEOUT 300)
endif()

# The GUI smoke test's inspector, which prints a window's controls as text (run under Wine).
if(QEL_BUILD_TESTS AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64"
   AND EXISTS ${CMAKE_SOURCE_DIR}/tests/smoke/ControlList.cpp)
  add_executable(inspect ${CMAKE_SOURCE_DIR}/tests/smoke/ControlList.cpp)
  target_compile_definitions(inspect PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  target_link_options(inspect PRIVATE -municode)
  target_link_libraries(inspect PRIVATE user32)
endif()

# The GUI tests' helpers: a control locator for clicks with real input, and the real main window
# with the AutoPartition window opened over a fixed list of removable disks (run under Wine).
if(QEL_BUILD_TESTS AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64"
   AND EXISTS ${CMAKE_SOURCE_DIR}/tests/smoke/GuiProbe.cpp)
  add_executable(gui-probe ${CMAKE_SOURCE_DIR}/tests/smoke/GuiProbe.cpp)
  target_compile_definitions(gui-probe PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  target_link_options(gui-probe PRIVATE -municode)
  target_link_libraries(gui-probe PRIVATE user32)
endif()
if(QEL_BUILD_TESTS AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64"
   AND EXISTS ${CMAKE_SOURCE_DIR}/tests/smoke/RepartitionShow.cpp)
  add_executable(repartition-show ${CMAKE_SOURCE_DIR}/tests/smoke/RepartitionShow.cpp)
  target_compile_definitions(repartition-show PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  target_link_options(repartition-show PRIVATE -municode)
  target_link_libraries(repartition-show PRIVATE qel_win32 qel_core)
  qel_add_resources(repartition-show)
endif()

# The Syslinux tests' runner of the bootloader stage over a disk image (run under Wine).
if(QEL_BUILD_TESTS AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64"
   AND EXISTS ${CMAKE_SOURCE_DIR}/tests/syslinux/BootloaderStageRun.cpp)
  add_executable(bootloader-stage-run ${CMAKE_SOURCE_DIR}/tests/syslinux/BootloaderStageRun.cpp)
  target_compile_definitions(bootloader-stage-run PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN
                                                          NOMINMAX)
  target_link_options(bootloader-stage-run PRIVATE -municode)
  target_link_libraries(bootloader-stage-run PRIVATE qel_win32 qel_core)
endif()

# The Wine disk tests' kernel-mode disk over an image file, loaded by Wine's driver host. Built
# with the compiler directly: a driver links against ntoskrnl alone, without the default libraries.
if(QEL_BUILD_TESTS AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64"
   AND EXISTS ${CMAKE_SOURCE_DIR}/tests/winedisk/WineDisk.c)
  set(qel_winedisk_source ${CMAKE_SOURCE_DIR}/tests/winedisk/WineDisk.c)
  set(qel_winedisk_sys ${CMAKE_BINARY_DIR}/qelwinedisk.sys)
  cmake_path(GET CMAKE_C_COMPILER PARENT_PATH qel_mingw_bin)
  set(qel_ddk_include ${qel_mingw_bin}/../x86_64-w64-mingw32/include/ddk)
  if(NOT EXISTS ${qel_ddk_include})
    set(qel_ddk_include /usr/x86_64-w64-mingw32/include/ddk)
  endif()
  add_custom_command(
    OUTPUT ${qel_winedisk_sys}
    COMMAND ${CMAKE_C_COMPILER} -std=gnu11 -O2 -Wall -Wextra -Wpedantic -Werror
            -I${qel_ddk_include} -ffreestanding -fno-stack-protector -nostdlib
            -Wl,--subsystem,native -Wl,-e,DriverEntry -o ${qel_winedisk_sys} ${qel_winedisk_source}
            -lntoskrnl
    DEPENDS ${qel_winedisk_source}
    COMMENT "Building the Wine test disk driver qelwinedisk.sys")
  add_custom_target(winedisk-driver ALL DEPENDS ${qel_winedisk_sys})
endif()
if(QEL_BUILD_TESTS AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64"
   AND EXISTS ${CMAKE_SOURCE_DIR}/tests/winedisk/WineDiskTest.cpp)
  add_executable(test_wine_disk ${CMAKE_SOURCE_DIR}/tests/winedisk/WineDiskTest.cpp)
  target_compile_definitions(test_wine_disk PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  target_link_libraries(test_wine_disk PRIVATE qel_win32 qel_core gtest gtest_main)
endif()

# The 7-Zip tests' runner of staging, the extraction command line and the OK run, and their
# driver of 7-Zip's windows (run under Wine).
if(QEL_BUILD_TESTS AND CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64"
   AND EXISTS ${CMAKE_SOURCE_DIR}/tests/smoke/SevenZipRun.cpp)
  add_executable(sevenzip-run ${CMAKE_SOURCE_DIR}/tests/smoke/SevenZipRun.cpp)
  target_compile_definitions(sevenzip-run PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  target_link_options(sevenzip-run PRIVATE -municode)
  target_link_libraries(sevenzip-run PRIVATE qel_win32 qel_core)
  qel_add_resources(sevenzip-run)
endif()
