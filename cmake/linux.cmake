# The shipped Linux brandcli (x86_64, arm64, armhf; see cmake/linux-*.cmake): one static,
# stripped program that runs on any Linux of its architecture with nothing installed. The
# portable command-line core, the frames and the Linux station; nothing of the Win32 framework.
#
# Reproducible: no build path in the binary (__FILE__ and debug paths are mapped to the tree's
# root), no build id, and nothing that reads the clock at build time, so two builds of one
# commit from two clones are byte-identical.
add_compile_options(-Os -ffunction-sections -fdata-sections -fno-exceptions -fno-rtti
                    -fno-asynchronous-unwind-tables -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.)
add_link_options(-static -pthread -Wl,--gc-sections -s -Wl,--build-id=none)

add_executable(brandcli
  cli/brandcli.cpp
  ${BRAND_CLI_SOURCES}
  protocol/frames.cpp
  serial/clear_to_send.cpp
  serial/posix_calls.cpp
  serial/send_linux.cpp
  serial/station_linux.cpp
  serial/sysfs_ports.cpp
  serial/utc_time_linux.cpp
  serial/watch_linux.cpp
)
# Labelled and linked like the Windows programs (-dirty for a tree with uncommitted changes).
include(${CMAKE_CURRENT_LIST_DIR}/build_stamp.cmake)
brand_stamped_program(brandcli)

# For the virtual machine's cases, which boot an x86_64 guest: a program there that holds a port
# as another program would (tests/wine/port_holder.c). Never packed with the release; a C program,
# so without the C++-only options above.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL x86_64)
  add_executable(port_holder tests/wine/port_holder.c)
  set_target_properties(port_holder PROPERTIES COMPILE_OPTIONS "-Wall;-Wextra;-Os")
endif()
