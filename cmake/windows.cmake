# MinGW-w64 builds (i686 shipped, x86_64 tested under Wine).
# Static runtime: the program imports nothing but the system's own DLLs.
add_link_options(-static -static-libgcc -static-libstdc++)
# Small and XP-loadable: size-optimised, unused sections dropped, symbols stripped, and the PE
# header asking for no newer subsystem than Windows XP (5.1).
add_compile_options(-Os -ffunction-sections -fdata-sections)
add_link_options(-Wl,--gc-sections -s -Wl,--major-subsystem-version,5
                 -Wl,--minor-subsystem-version,1)
add_compile_definitions(WINVER=0x0501 _WIN32_WINNT=0x0501)

add_library(brand_core STATIC ${BRAND_CORE_SOURCES} serial/serial_win32.cpp)
target_link_libraries(brand_core PUBLIC advapi32)

# The program's own framework layer over Win32.
add_library(brand_platform STATIC
  platform/CmdTarget.cpp
  platform/Controls.cpp
  platform/CString_win32.cpp
  platform/Dialog.cpp
  platform/text_win32.cpp
  platform/WinApp.cpp
  platform/Wnd.cpp
)

# The program: a GUI executable with its resources.
if(EXISTS ${CMAKE_SOURCE_DIR}/res/brand.rc)
  add_executable(brand WIN32
    app/Vandrel.cpp
    dialog/AboutDlg.cpp
    dialog/VandrelDlg.cpp
    res/brand.rc
  )
  target_link_libraries(brand brand_core brand_platform)
endif()

# Helper programs and Windows-side test programs, each folder with its own list.
foreach(dir tools tests/wine tests/e2e)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()
