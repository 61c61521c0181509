# The help window over a compiled help file: chmlib reads the file, Qt shows it.
target_sources(pontix_help PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/ChmArchive.cpp
  ${CMAKE_CURRENT_LIST_DIR}/HelpWindow.cpp
  ${CMAKE_CURRENT_LIST_DIR}/QtHtmlHelp.cpp
)
