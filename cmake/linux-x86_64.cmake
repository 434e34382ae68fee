# Linux x86_64: the shipped static brandcli, built with the machine's own g++.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(BRAND_LINUX_SHIPPED ON)
