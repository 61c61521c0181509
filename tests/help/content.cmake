# Tests of the shipped help file: Scolaria.chm, read back with chmlib's own extractor.
find_program(EXTRACT_CHMLIB extract_chmLib REQUIRED)
find_program(DEBIAN_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)

set(help_file ${PROJECT_BINARY_DIR}/app/Scolaria.chm)
add_test(NAME help_file
  COMMAND ${DEBIAN_PYTHON3} ${CMAKE_CURRENT_SOURCE_DIR}/check_help_file.py
          ${help_file} ${PROJECT_SOURCE_DIR}/help/content ${EXTRACT_CHMLIB})
# Built by ALL (target scolaria_chm); without it the test is reported as not run.
set_tests_properties(help_file PROPERTIES REQUIRED_FILES ${help_file})

# The same file read with chmlib directly: its context table, and no folder of the build in it.
add_executable(scolaria_chm_tests ${CMAKE_CURRENT_LIST_DIR}/ScolariaChmTest.cpp)
target_include_directories(scolaria_chm_tests PRIVATE ${CHM_INCLUDE})
target_link_libraries(scolaria_chm_tests PRIVATE ${CHM_LIB} GTest::gtest GTest::gtest_main)
target_compile_definitions(scolaria_chm_tests PRIVATE
  SCOLARIA_CHM="${help_file}"
  HELP_COMPILE_DIR="${PONTIX_HELP_COMPILE_DIR}"
  HELP_SOURCE_DIR="${PROJECT_SOURCE_DIR}/help/content")
add_dependencies(scolaria_chm_tests scolaria_chm)
gtest_discover_tests(scolaria_chm_tests DISCOVERY_TIMEOUT 60 PROPERTIES REQUIRED_FILES ${help_file})
