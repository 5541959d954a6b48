# The qorv_html report: the extension run by the driver on hostile text,
# the strict parse of the pages those tests leave in html_samples, and the
# browser test of the installed program (Debian's chromium, chromium-driver
# and python3-selenium, which scripts/install-deps installs).
qorv_add_test(qorv_html_test extensions/qorv_html_test.cpp)
target_compile_definitions(qorv_html_test PRIVATE QORV_EXTENSION_DIR="${CMAKE_BINARY_DIR}/extensions")
add_dependencies(qorv_html_test extension_qorv_html)

set(QORV_HTML_SAMPLES ${CMAKE_CURRENT_BINARY_DIR}/html_samples)
add_test(NAME qorv_html_samples_clean COMMAND ${CMAKE_COMMAND} -E rm -rf ${QORV_HTML_SAMPLES})
add_test(NAME qorv_html_samples COMMAND qorv_html_test --gtest_filter=QorvHtmlTest.Hostile*)
set_tests_properties(qorv_html_samples_clean PROPERTIES FIXTURES_SETUP qorv_html_samples_clean)
set_tests_properties(qorv_html_samples PROPERTIES
  ENVIRONMENT QORV_HTML_SAMPLES=${QORV_HTML_SAMPLES}
  FIXTURES_REQUIRED qorv_html_samples_clean
  FIXTURES_SETUP qorv_html_samples)
add_test(NAME qorv_html_parse
  COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/extensions/check_html.py ${QORV_HTML_SAMPLES})
set_tests_properties(qorv_html_parse PROPERTIES FIXTURES_REQUIRED qorv_html_samples)

# Debian's Selenium belongs to Debian's interpreter, which may not be the
# first python3 on the PATH.
if(TARGET qorv-postprocess)
  find_program(QORV_DEBIAN_PYTHON python3 PATHS /usr/bin NO_DEFAULT_PATH)
  if(NOT QORV_DEBIAN_PYTHON)
    set(QORV_DEBIAN_PYTHON ${Python3_EXECUTABLE})
  endif()
  add_test(NAME qorv_html_browser
    COMMAND ${QORV_DEBIAN_PYTHON} ${CMAKE_CURRENT_SOURCE_DIR}/extensions/html_browser_test.py
            ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR})
  set_tests_properties(qorv_html_browser PROPERTIES TIMEOUT 300)
endif()
