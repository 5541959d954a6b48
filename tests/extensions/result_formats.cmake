# qorv_junit and qorv_metrics: their escaping, and both extensions driven
# through the real driver; then the files those tests leave in
# result_samples checked with xmllint, junitparser and promtool.
qorv_add_test(result_formats_test
  extensions/result_formats_test.cpp
  ${PROJECT_SOURCE_DIR}/extensions/qorv_junit/xml_text.cpp
  ${PROJECT_SOURCE_DIR}/extensions/qorv_metrics/prometheus_text.cpp
)
target_compile_definitions(result_formats_test PRIVATE QORV_EXTENSION_DIR="${CMAKE_BINARY_DIR}/extensions")
add_dependencies(result_formats_test extension_qorv_junit extension_qorv_metrics)

set(QORV_RESULT_SAMPLES ${CMAKE_CURRENT_BINARY_DIR}/result_samples)
add_test(NAME result_samples_clean COMMAND ${CMAKE_COMMAND} -E rm -rf ${QORV_RESULT_SAMPLES})
add_test(NAME result_samples COMMAND result_formats_test --gtest_filter=ResultFilesTest.*)
set_tests_properties(result_samples_clean PROPERTIES FIXTURES_SETUP result_samples_clean)
set_tests_properties(result_samples PROPERTIES
  ENVIRONMENT QORV_RESULT_SAMPLES=${QORV_RESULT_SAMPLES}
  FIXTURES_REQUIRED result_samples_clean
  FIXTURES_SETUP result_samples)
add_test(NAME result_formats
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/extensions/check_result_formats.sh ${PROJECT_SOURCE_DIR} ${QORV_RESULT_SAMPLES})
set_tests_properties(result_formats PROPERTIES FIXTURES_REQUIRED result_samples)
