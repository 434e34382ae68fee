# Linux armhf (older Raspberry Pi boards, 32-bit Raspberry Pi OS): the shipped static brandcli.
set(BRAND_LINUX_TRIPLE arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR arm)
# A 64-bit time_t (and, as glibc requires with it, 64-bit file offsets): records after January
# 2038 keep their dates.
set(CMAKE_C_FLAGS_INIT "-D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64")
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
