# Qt sources of the settings subsystem.
target_sources(zelvano_gui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/SettingsWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SettingsWindow.h)
