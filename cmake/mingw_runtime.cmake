# Runtime and size options of every MinGW-w64 program here (the shipped one, its test drivers and
# the benchmark baselines, which must differ from it only in what they do).
# Static runtime: a program imports nothing but the system's own DLLs.
add_link_options(-static -static-libgcc -static-libstdc++)
# Small and XP-loadable: size-optimised, unused sections dropped, symbols stripped, and the PE
# header asking for no newer subsystem than Windows XP (5.1).
add_compile_options(-Os -ffunction-sections -fdata-sections)
add_link_options(-Wl,--gc-sections -s -Wl,--major-subsystem-version,5
                 -Wl,--minor-subsystem-version,1)
add_compile_definitions(WINVER=0x0501 _WIN32_WINNT=0x0501)
