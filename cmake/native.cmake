# Native Linux build: unit tests under AddressSanitizer and UndefinedBehaviorSanitizer.
enable_testing()
find_package(GTest REQUIRED)

set(SANITIZE -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
# -O1 after the build type's -O3: the sanitizers find the same at -O1, and the test command's
# build of these tests takes half the time.
add_compile_options(-g -O1 ${SANITIZE})
add_link_options(${SANITIZE})

add_library(brand_core STATIC ${BRAND_CORE_SOURCES})

add_executable(unit_tests
  tests/unit/frames_test.cpp
  tests/unit/port_number_test.cpp
  tests/unit/discovery_test.cpp
  tests/unit/cstring_test.cpp
  tests/unit/logic_test.cpp
  tests/unit/scripted_serial.cpp
  tests/unit/command_line_test.cpp
  tests/unit/brandcli_test.cpp
  tests/unit/scripted_station.cpp
  tests/unit/usb_identity_test.cpp
  serial/usb_identity.cpp
  ${BRAND_CLI_SOURCES}
)
target_include_directories(unit_tests PRIVATE ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(unit_tests brand_core GTest::gtest_main)
include(GoogleTest)
gtest_discover_tests(unit_tests)

# The Win32 serial layer and brandcli's send threads, built against recording stand-ins of the
# system calls they make so that a test sees each call and its arguments. A program of its own:
# unit_tests links the scripted serial layer and station, which define the same functions.
add_executable(serial_win32_tests
  serial/serial_win32.cpp
  serial/tasks_win32.cpp
  tests/unit/serial_win32_test.cpp
  tests/unit/tasks_win32_test.cpp
)
target_compile_options(serial_win32_tests PRIVATE -include ${CMAKE_SOURCE_DIR}/tests/unit/fake_win32.h)
target_link_libraries(serial_win32_tests brand_core GTest::gtest_main)
gtest_discover_tests(serial_win32_tests)

# The Linux station's send and discovery against recording stand-ins of the system calls and a
# made-up sysfs tree.
add_executable(station_linux_tests
  serial/clear_to_send.cpp
  serial/send_linux.cpp
  serial/sysfs_ports.cpp
  serial/utc_time_linux.cpp
  tests/unit/fake_posix.cpp
  tests/unit/send_linux_test.cpp
  tests/unit/sysfs_ports_test.cpp
  tests/unit/utc_time_linux_test.cpp
)
target_link_libraries(station_linux_tests GTest::gtest_main)
gtest_discover_tests(station_linux_tests)

# The Linux station itself, built here under the sanitizers so that it is compiled and checked
# with every native build; the shipped Linux brandcli is built by cmake/linux.cmake.
add_library(brand_station_linux STATIC
  serial/posix_calls.cpp
  serial/send_linux.cpp
  serial/station_linux.cpp
  serial/sysfs_ports.cpp
  serial/utc_time_linux.cpp
  serial/watch_linux.cpp
)

# For the Wine tests: a library preloaded into Wine that gives one pty the modem lines of a
# device (tests/wine/cts_shim.c). Without the sanitizers: it is loaded into Wine, not into a
# program of ours.
add_library(cts_shim SHARED tests/wine/cts_shim.c)
target_compile_options(cts_shim PRIVATE -fno-sanitize=all)
target_link_options(cts_shim PRIVATE -fno-sanitize=all)
target_link_libraries(cts_shim dl)
