# The Windows build (mingw-w64, see cmake/mingw-w64.cmake): BootloaderZL.exe, the core
# behind the Win32 face, one statically linked executable; and zlctl.exe, the helper
# that drives the dialog in the tests under Wine.
enable_language(RC)
add_compile_options(-Wall -Wextra)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)

file(GLOB zl_win_core_sources CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/app/*.cpp ${CMAKE_SOURCE_DIR}/serial/*.cpp ${CMAKE_SOURCE_DIR}/protocol/*.cpp
  ${CMAKE_SOURCE_DIR}/files/*.cpp ${CMAKE_SOURCE_DIR}/res/*.cpp ${CMAKE_SOURCE_DIR}/records/*.cpp
  ${CMAKE_SOURCE_DIR}/platform/*.cpp)
file(GLOB zl_win32_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/platform/win32/*.cpp)

# The program icon from the one picture in res/.
find_program(BZL_CONVERT convert PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)  # ImageMagick's
add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/icon.ico
  COMMAND ${BZL_CONVERT} ${CMAKE_SOURCE_DIR}/res/icon.png -depth 8 -define icon:auto-resize=48,32,16
          ${CMAKE_CURRENT_BINARY_DIR}/icon.ico
  DEPENDS ${CMAKE_SOURCE_DIR}/res/icon.png VERBATIM)
configure_file(${CMAKE_SOURCE_DIR}/platform/win32/BootloaderZL.manifest ${CMAKE_CURRENT_BINARY_DIR}/BootloaderZL.manifest COPYONLY)
set_source_files_properties(${CMAKE_SOURCE_DIR}/platform/win32/BootloaderZL.rc PROPERTIES
  OBJECT_DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/icon.ico;${CMAKE_CURRENT_BINARY_DIR}/BootloaderZL.manifest")

add_executable(BootloaderZL WIN32 ${zl_win_core_sources} ${zl_win32_sources}
  ${CMAKE_SOURCE_DIR}/platform/win32/BootloaderZL.rc)
target_include_directories(BootloaderZL PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR})
target_compile_definitions(BootloaderZL PRIVATE BZL_VERSION="${PROJECT_VERSION}")
target_link_libraries(BootloaderZL PRIVATE comctl32 comdlg32 winmm advapi32 user32 gdi32 kernel32)
target_link_options(BootloaderZL PRIVATE -static -static-libgcc -static-libstdc++ -s)

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/wine/zlctl.cpp)
  add_executable(zlctl ${CMAKE_SOURCE_DIR}/tests/wine/zlctl.cpp)
  target_link_options(zlctl PRIVATE -static -static-libgcc -static-libstdc++)
endif()
