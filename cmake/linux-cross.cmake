# What the Linux cross toolchain files share: Debian's cross compilers for BRAND_LINUX_TRIPLE, with
# headers and libraries (glibc included, linked statically) from its own root only.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${BRAND_LINUX_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${BRAND_LINUX_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${BRAND_LINUX_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(BRAND_LINUX_SHIPPED ON)
