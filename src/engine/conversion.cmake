# The value-conversion sources of the engine library (data formats, conversion by field type,
# Base64, OEM code page). Included from src/engine/CMakeLists.txt:
#   include(${CMAKE_CURRENT_LIST_DIR}/conversion.cmake)
#   add_library(qel_engine ... ${QEL_CONVERSION_SOURCES})
set(QEL_CONVERSION_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/CodePage.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QelConvert.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QelDataFormats.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QelMIME.cpp
)
