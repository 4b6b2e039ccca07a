# The program's pure logic: texts, the device display, the compatibility check, path
# shortening and file filters. No window system, no operating system.
if(NOT DEFINED BZL_ROOT)
  set(BZL_ROOT ${CMAKE_SOURCE_DIR})
endif()
add_library(zl_logic STATIC
  ${BZL_ROOT}/app/texts.cpp
  ${BZL_ROOT}/protocol/device_info.cpp
  ${BZL_ROOT}/protocol/compat.cpp
  ${BZL_ROOT}/files/fit_path.cpp
  ${BZL_ROOT}/files/file_filter.cpp
  ${BZL_ROOT}/records/sha256.cpp
  ${BZL_ROOT}/ports/com_name.cpp)
target_include_directories(zl_logic PUBLIC ${BZL_ROOT})

file(GLOB zl_logic_test_sources CONFIGURE_DEPENDS ${BZL_ROOT}/tests/protocol/*.cpp ${BZL_ROOT}/tests/files/*.cpp)
if(zl_logic_test_sources)
  add_executable(zl_logic_tests ${zl_logic_test_sources})
  target_link_libraries(zl_logic_tests PRIVATE zl_logic GTest::gtest_main)
  gtest_discover_tests(zl_logic_tests DISCOVERY_TIMEOUT 60)
endif()
