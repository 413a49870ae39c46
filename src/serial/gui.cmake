# Qt sources of the serial subsystem.
target_sources(zelvano_gui PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/QtSerialLine.h
  ${CMAKE_CURRENT_LIST_DIR}/QtSerialLine.cpp)
