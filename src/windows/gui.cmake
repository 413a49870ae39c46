# Qt sources of the call and about windows and the window helpers.
target_sources(zelvano_gui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/AboutPicture.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AboutPicture.h
  ${CMAKE_CURRENT_LIST_DIR}/AboutWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AboutWindow.h
  ${CMAKE_CURRENT_LIST_DIR}/CallWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/CallWindow.h
  ${CMAKE_CURRENT_LIST_DIR}/FocusKeeper.cpp
  ${CMAKE_CURRENT_LIST_DIR}/FocusKeeper.h
  ${CMAKE_CURRENT_LIST_DIR}/QtLook.h
  ${CMAKE_CURRENT_LIST_DIR}/SettingsWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SettingsWindow.h
  ${CMAKE_CURRENT_LIST_DIR}/TypeableCombo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TypeableCombo.h
  ${CMAKE_CURRENT_LIST_DIR}/WindowKeys.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WindowKeys.h)
