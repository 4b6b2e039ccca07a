# The stations without a window: N dialogs on headless faces, one per port. Built in
# every configuration, so that the sanitizer builds (without Qt Widgets) test it.
if(NOT TARGET zl_stations_core)
  add_library(zl_stations_core STATIC
    ${CMAKE_SOURCE_DIR}/stations/station.cpp
    ${CMAKE_SOURCE_DIR}/stations/port_list.cpp
    ${CMAKE_SOURCE_DIR}/stations/live_summary.cpp)
  target_include_directories(zl_stations_core PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(zl_stations_core PUBLIC zl_core zl_driver zl_records zl_report zl_board)
endif()
