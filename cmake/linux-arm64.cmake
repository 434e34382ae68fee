# Linux arm64 (64-bit Raspberry Pi OS and other 64-bit ARM boards): the shipped static brandcli.
set(BRAND_LINUX_TRIPLE aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
