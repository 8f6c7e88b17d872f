# Bare windows of each toolkit, the baselines of the timed start runs
# (scripts/measure-startup.sh). Not built by default.
if(WIN32)
  add_executable(bare_win32_window WIN32 EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tools/startup/bare_win32_window.cpp)
  target_link_options(bare_win32_window PRIVATE -static -mwindows)
elseif(QX_BUILD_GUI)
  add_executable(bare_qt_window EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tools/startup/bare_qt_window.cpp)
  target_link_libraries(bare_qt_window PRIVATE Qt6::Widgets)
endif()
