# Tests of the shipped help file: Scolaria.chm, read back with chmlib's own extractor.
find_program(EXTRACT_CHMLIB extract_chmLib REQUIRED)
find_program(DEBIAN_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)

set(help_file ${PROJECT_BINARY_DIR}/app/Scolaria.chm)
add_test(NAME help_file
  COMMAND ${DEBIAN_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/check_help_file.py
          ${help_file} ${PROJECT_SOURCE_DIR}/help/content ${EXTRACT_CHMLIB})
# Built by ALL (target scolaria_chm); without it the test is reported as not run.
set_tests_properties(help_file PROPERTIES REQUIRED_FILES ${help_file})
