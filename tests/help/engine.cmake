# The help window and the compiled-help reader, over a small help file that chmcmd builds
# from tests/fixtures/help when a test program starts.
find_program(CHMCMD chmcmd REQUIRED)
find_package(Qt6 REQUIRED COMPONENTS Test)
add_executable(help_engine_tests
  ${CMAKE_CURRENT_LIST_DIR}/engine_main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BuiltHelp.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ChmArchiveTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QtHtmlHelpTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ShippedHelpTest.cpp
)
set_target_properties(help_engine_tests PROPERTIES AUTOMOC ON)
target_link_libraries(help_engine_tests PRIVATE pontix_help Qt6::Test GTest::gtest)
target_include_directories(help_engine_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_compile_definitions(help_engine_tests PRIVATE
  HELP_FIXTURE_DIR="${PROJECT_SOURCE_DIR}/tests/fixtures/help"
  CHMCMD="${CHMCMD}"
  SCOLARIA_CHM="${PROJECT_BINARY_DIR}/app/Scolaria.chm")
add_dependencies(help_engine_tests scolaria_chm)
gtest_discover_tests(help_engine_tests DISCOVERY_TIMEOUT 60 PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
