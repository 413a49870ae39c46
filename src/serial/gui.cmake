# Qt sources of the serial subsystem: the line over a serial device or the network.
target_sources(zelvano_line PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/PortLine.cpp
  ${CMAKE_CURRENT_LIST_DIR}/PortLine.h)
