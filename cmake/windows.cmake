# MinGW-w64 builds (i686 shipped, x86_64 tested under Wine).
# Static runtime: the program imports nothing but the system's own DLLs.
add_link_options(-static -static-libgcc -static-libstdc++)
# Small and XP-loadable: size-optimised, unused sections dropped, symbols stripped, and the PE
# header asking for no newer subsystem than Windows XP (5.1).
add_compile_options(-Os -ffunction-sections -fdata-sections)
add_link_options(-Wl,--gc-sections -s -Wl,--major-subsystem-version,5 -Wl,--minor-subsystem-version,1)
add_compile_definitions(WINVER=0x0501 _WIN32_WINNT=0x0501)

add_library(brand_core STATIC ${BRAND_CORE_SOURCES} serial/serial_win32.cpp)
target_link_libraries(brand_core PUBLIC advapi32)

# Runs the dialog logic with text-mode controls on the real serial layer: lists the ports,
# chooses one and presses both Set buttons.
add_executable(brand_console tools/brand_console.cpp)
target_link_libraries(brand_console brand_core)

# Serial-layer checks run under Wine against ptys.
add_executable(serial_probe tests/wine/serial_probe.cpp)
target_link_libraries(serial_probe brand_core)
