# Qt sources of the application subsystem: the main window.
target_sources(zelvano_gui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ClickLabel.h
  ${CMAKE_CURRENT_LIST_DIR}/Indicator.h
  ${CMAKE_CURRENT_LIST_DIR}/MainWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainWindow.h)

