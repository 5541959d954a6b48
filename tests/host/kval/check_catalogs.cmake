# Validates the bundled message catalogues against docs/message-catalog.xsd:
# every .xml file in examples/catalogs/, and any other .xml file under
# examples/ whose root is <message-catalog>.
#   cmake -DSOURCE_DIR=<source tree> -P check_catalogs.cmake
find_program(XMLLINT xmllint)
if(NOT XMLLINT)
  message(FATAL_ERROR "xmllint not found; install libxml2-utils (scripts/install-deps does)")
endif()

file(GLOB catalogs "${SOURCE_DIR}/examples/catalogs/*.xml")
file(GLOB_RECURSE candidates "${SOURCE_DIR}/examples/*.xml")
foreach(candidate IN LISTS candidates)
  file(STRINGS "${candidate}" root REGEX "<message-catalog[ \t/>]|<message-catalog$" LIMIT_COUNT 1)
  if(root)
    list(APPEND catalogs "${candidate}")
  endif()
endforeach()
list(REMOVE_DUPLICATES catalogs)
if(NOT catalogs)
  message(FATAL_ERROR "no message catalogue found under ${SOURCE_DIR}/examples")
endif()

execute_process(
  COMMAND "${XMLLINT}" --schema "${SOURCE_DIR}/docs/message-catalog.xsd" --noout ${catalogs}
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "message catalogues do not validate (xmllint status ${status})")
endif()
list(LENGTH catalogs count)
message(STATUS "${count} message catalogue(s) validate")
