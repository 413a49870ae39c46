# Qt sources of the serial subsystem: the lines over a serial device and over
# the network, and the one that picks between them.
target_sources(zelvano_line PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/PortLine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PortLine.h
  ${CMAKE_CURRENT_LIST_DIR}/QtSerialLine.h
  ${CMAKE_CURRENT_LIST_DIR}/QtSerialLine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QtTcpLine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QtTcpLine.h)
