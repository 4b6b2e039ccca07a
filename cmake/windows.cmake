# The Windows build (mingw-w64, see cmake/mingw-w64.cmake): BootloaderZL.exe, the core
# behind the Win32 face, and bzl.exe, the command line on the headless face, each one
# statically linked executable; and zlctl.exe, the helper that drives the dialog in the
# tests under Wine.
enable_language(RC)
add_compile_options(-Wall -Wextra)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)

file(GLOB zl_win_core_sources CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/app/*.cpp ${CMAKE_SOURCE_DIR}/serial/*.cpp ${CMAKE_SOURCE_DIR}/protocol/*.cpp
  ${CMAKE_SOURCE_DIR}/files/*.cpp ${CMAKE_SOURCE_DIR}/res/*.cpp ${CMAKE_SOURCE_DIR}/records/*.cpp
  ${CMAKE_SOURCE_DIR}/ports/*.cpp ${CMAKE_SOURCE_DIR}/platform/*.cpp ${CMAKE_SOURCE_DIR}/jobs/*.cpp)
# The platform layer's Windows side: ports (and their names from SetupAPI), files, threads,
# records, the registry.
set(zl_win32_base_sources
  ${CMAKE_SOURCE_DIR}/os/win32/append_file_win32.cpp ${CMAKE_SOURCE_DIR}/os/win32/file_win32.cpp
  ${CMAKE_SOURCE_DIR}/os/win32/registry_profile.cpp ${CMAKE_SOURCE_DIR}/os/win32/serial_win32.cpp
  ${CMAKE_SOURCE_DIR}/os/win32/threads_win32.cpp ${CMAKE_SOURCE_DIR}/os/win32/com_ports.cpp)
# The window.
set(zl_win32_window_sources
  ${CMAKE_SOURCE_DIR}/faces/win32/dialog_template.cpp ${CMAKE_SOURCE_DIR}/faces/win32/dialog_window.cpp
  ${CMAKE_SOURCE_DIR}/faces/win32/win32_platform.cpp ${CMAKE_SOURCE_DIR}/window/main_win32.cpp)

add_library(zl_win_core STATIC ${zl_win_core_sources} ${zl_win32_base_sources})
target_include_directories(zl_win_core PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(zl_win_core PUBLIC winmm advapi32 setupapi cfgmgr32 kernel32)
set(zl_win_link_options -static -static-libgcc -static-libstdc++ -s)

# The program icon from the one picture in res/.
find_program(BZL_CONVERT convert PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)  # ImageMagick's
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/icon.ico
  COMMAND ${BZL_CONVERT} ${CMAKE_SOURCE_DIR}/res/icon.png -depth 8 -define icon:auto-resize=48,32,16
          ${CMAKE_CURRENT_BINARY_DIR}/icon.ico
  DEPENDS ${CMAKE_SOURCE_DIR}/res/icon.png VERBATIM)
# Each program's resources stand beside its main(): the window's in window/, bzl's in cli/win32.
foreach(resources window/BootloaderZL cli/win32/bzl)
  get_filename_component(program ${resources} NAME)
  configure_file(${CMAKE_SOURCE_DIR}/${resources}.manifest ${CMAKE_CURRENT_BINARY_DIR}/${program}.manifest COPYONLY)
  set_source_files_properties(${CMAKE_SOURCE_DIR}/${resources}.rc PROPERTIES
    OBJECT_DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/icon.ico;${CMAKE_CURRENT_BINARY_DIR}/${program}.manifest")
endforeach()

add_executable(BootloaderZL WIN32 ${zl_win32_window_sources} ${CMAKE_SOURCE_DIR}/window/BootloaderZL.rc)
target_include_directories(BootloaderZL PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
target_compile_definitions(BootloaderZL PRIVATE BZL_VERSION="${PROJECT_VERSION}")
target_link_libraries(BootloaderZL PRIVATE zl_win_core comctl32 comdlg32 user32 gdi32)
target_link_options(BootloaderZL PRIVATE ${zl_win_link_options})

# bzl.exe: a console program; what it needs of Windows is in cli/win32/.
file(GLOB zl_report_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/report/*.cpp)
# The stations' board without the HTTP server: Debian's cpp-httplib is a shared library for
# Linux only, so bzl.exe refuses --serve (serve/serve_unavailable.cpp).
file(GLOB zl_serve_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/serve/*.cpp)
list(REMOVE_ITEM zl_serve_sources ${CMAKE_SOURCE_DIR}/serve/http_server.cpp)
add_executable(bzl ${CMAKE_SOURCE_DIR}/cli/main.cpp ${CMAKE_SOURCE_DIR}/cli/args.cpp ${CMAKE_SOURCE_DIR}/cli/output.cpp
  ${CMAKE_SOURCE_DIR}/cli/station.cpp ${CMAKE_SOURCE_DIR}/cli/report_command.cpp ${CMAKE_SOURCE_DIR}/cli/report_output.cpp
  ${CMAKE_SOURCE_DIR}/cli/job_command.cpp ${CMAKE_SOURCE_DIR}/cli/unit_reader.cpp
  ${CMAKE_SOURCE_DIR}/cli/serve_options.cpp ${zl_serve_sources}
  ${zl_report_sources} ${CMAKE_SOURCE_DIR}/cli/win32/ports_win32.cpp
  ${CMAKE_SOURCE_DIR}/cli/win32/system_win32.cpp
  ${CMAKE_SOURCE_DIR}/faces/headless/headless_platform.cpp ${CMAKE_SOURCE_DIR}/faces/headless/readonly_profile.cpp
  ${CMAKE_SOURCE_DIR}/driver/dialog_driver.cpp
  ${CMAKE_SOURCE_DIR}/cli/win32/bzl.rc)
target_include_directories(bzl PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
target_compile_definitions(bzl PRIVATE BZL_VERSION="${PROJECT_VERSION}")
target_link_libraries(bzl PRIVATE zl_win_core shell32)
target_link_options(bzl PRIVATE ${zl_win_link_options})

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/wine/zlctl.cpp)
  add_executable(zlctl ${CMAKE_SOURCE_DIR}/tests/wine/zlctl.cpp)
  target_link_options(zlctl PRIVATE -static -static-libgcc -static-libstdc++)
endif()
