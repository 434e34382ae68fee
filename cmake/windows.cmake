# MinGW-w64 builds (i686 shipped, x86_64 tested under Wine).
include(${CMAKE_CURRENT_LIST_DIR}/mingw_runtime.cmake)

# What goes into the shipped programs is built without exceptions, RTTI or unwind tables (they use
# none), without locks around local statics (no local static of theirs is reached by two threads),
# and with the system C runtime's printf instead of MinGW's own: each of those would bring library
# code several times the size of the program itself. The C++ library's headers switch MinGW's
# printf on for every later stdio.h, so stdio.h is read first, before any of them.
set(BRAND_LEAN_OPTIONS
    -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-threadsafe-statics
    $<$<COMPILE_LANGUAGE:CXX>:-include$<SEMICOLON>stdio.h>)
set(BRAND_LEAN_DEFINITIONS __USE_MINGW_ANSI_STDIO=0)

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

# The shipped programs are stamped with the commit time and carry the version label of the tree
# they were built from (see build_stamp.cmake).
include(${CMAKE_CURRENT_LIST_DIR}/build_stamp.cmake)

# A shipped program: built with the lean options, from the generated version headers, and linked
# with the build's stamp.
function(brand_shipped_program target)
  target_compile_options(${target} PRIVATE ${BRAND_LEAN_OPTIONS})
  target_compile_definitions(${target} PRIVATE ${BRAND_LEAN_DEFINITIONS})
  brand_stamped_program(${target})
endfunction()

foreach(library brand_core brand_platform)
  target_compile_options(${library} PRIVATE ${BRAND_LEAN_OPTIONS})
  target_compile_definitions(${library} PRIVATE ${BRAND_LEAN_DEFINITIONS})
endforeach()

# The program: a GUI executable with its resources.
if(EXISTS ${CMAKE_SOURCE_DIR}/res/brand.rc)
  add_executable(brand WIN32
    app/Vandrel.cpp
    dialog/AboutDlg.cpp
    dialog/VandrelDlg.cpp
    res/brand.rc
  )
  target_link_libraries(brand brand_core brand_platform)
  brand_shipped_program(brand)
  # windres reads these through the script; CMake would not notice their changes otherwise.
  set_source_files_properties(res/brand.rc PROPERTIES OBJECT_DEPENDS
    "${CMAKE_SOURCE_DIR}/res/brand.ico;${CMAKE_SOURCE_DIR}/res/brand.manifest;${CMAKE_SOURCE_DIR}/res/resource.h;${CMAKE_BINARY_DIR}/generated/version.h")
endif()

# brandcli: the same serial layer from a console, for scripts.
add_executable(brandcli cli/brandcli.cpp ${BRAND_CLI_SOURCES} serial/station_win32.cpp
  serial/tasks_win32.cpp serial/port_devices_win32.cpp serial/usb_identity.cpp cli/lean_runtime.cpp
  cli/brandcli.rc)
target_link_libraries(brandcli brand_core)
brand_shipped_program(brandcli)
set_source_files_properties(cli/brandcli.rc PROPERTIES OBJECT_DEPENDS
  ${CMAKE_BINARY_DIR}/generated/version.h)

# What the release packs, in one build (and one stamp); naming both programs to the build runs
# the stamp once for each.
add_custom_target(shipped)
add_dependencies(shipped brandcli)
if(TARGET brand)
  add_dependencies(shipped brand)
endif()

# Helper programs and Windows-side test programs, each folder with its own list.
foreach(dir harness tests/e2e tests/faults bench)
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
    add_subdirectory(${dir})
  endif()
endforeach()
