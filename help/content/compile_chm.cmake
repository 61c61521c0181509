# Compiles Scolaria.hhp into OUTPUT (cmake -P; CHMCMD, SOURCE_DIR, COMPILE_DIR, OUTPUT).
#
# chmcmd's exit code alone is no guide: after a missing source it still leaves a cut-short
# archive behind. So the old output goes first, the sources are compiled in a fresh copy,
# and only a run that exits 0, says nothing of warnings or errors and writes a file counts.
foreach(var CHMCMD SOURCE_DIR COMPILE_DIR OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "compile_chm.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE ${OUTPUT})
file(REMOVE_RECURSE ${COMPILE_DIR})
file(COPY ${SOURCE_DIR}/ DESTINATION ${COMPILE_DIR}
     PATTERN CMakeLists.txt EXCLUDE
     PATTERN *.cmake EXCLUDE)

execute_process(
  COMMAND ${CHMCMD} --no-html-scan Scolaria.hhp
  WORKING_DIRECTORY ${COMPILE_DIR}
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)

set(chm ${COMPILE_DIR}/Scolaria.chm)
set(size 0)
if(EXISTS ${chm})
  file(SIZE ${chm} size)
endif()
if(NOT result EQUAL 0 OR size EQUAL 0 OR output MATCHES "(Warning|Error|exception|corrupt)")
  message(FATAL_ERROR "chmcmd could not compile Scolaria.chm (exit ${result}, ${size} bytes):\n${output}")
endif()

# Renamed into place so that a build interrupted here never leaves half a help file.
file(COPY_FILE ${chm} ${OUTPUT}.tmp)
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
