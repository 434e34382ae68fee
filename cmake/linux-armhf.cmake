# Linux armhf (older Raspberry Pi boards, 32-bit Raspberry Pi OS): the shipped static brandcli.
set(BRAND_LINUX_TRIPLE arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
