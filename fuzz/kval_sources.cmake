# The message catalogue sources the fuzz target compiles itself: the reader
# is internal and hidden in the shared library.
set(QORV_KVAL_SOURCES
  ${PROJECT_SOURCE_DIR}/postprocessor/host/kval/catalog_parser.cpp
  ${PROJECT_SOURCE_DIR}/postprocessor/host/kval/message.cpp
  ${PROJECT_SOURCE_DIR}/postprocessor/host/kval/message_text.cpp
  ${PROJECT_SOURCE_DIR}/postprocessor/host/kval/varg_list.cpp
  ${PROJECT_SOURCE_DIR}/postprocessor/host/kval/variant.cpp
)
