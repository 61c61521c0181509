# Compiles Scolaria.hhp into OUTPUT (cmake -P; CHMCMD, PYTHON3, SOURCE_DIR, COMPILE_DIR, OUTPUT).
#
# chmcmd's exit code alone is no guide: after a missing source it still leaves a cut-short
# archive behind. So the old output goes first, the sources are compiled in a fresh copy,
# and only a run that exits 0, says nothing of warnings or errors and writes a file counts.
#
# chmcmd writes each context's topic with the absolute path of the compile folder in front of
# it, which no viewer on Windows opens: it compiles the copy without [MAP] and [ALIAS], and
# chm_contexts.py then gives the archive the context table of Scolaria.hhp as Microsoft's
# compiler writes it ("index.htm").
foreach(var CHMCMD PYTHON3 SOURCE_DIR COMPILE_DIR OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "compile_chm.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE ${OUTPUT})
file(REMOVE_RECURSE ${COMPILE_DIR})
file(COPY ${SOURCE_DIR}/ DESTINATION ${COMPILE_DIR}
     PATTERN CMakeLists.txt EXCLUDE
     PATTERN *.cmake EXCLUDE
     PATTERN *.py EXCLUDE)

function(chm_contexts)
  execute_process(
    COMMAND ${PYTHON3} ${SOURCE_DIR}/chm_contexts.py ${ARGN}
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "chm_contexts.py ${ARGV0} failed (exit ${result}):\n${output}")
  endif()
endfunction()

chm_contexts(strip ${COMPILE_DIR}/Scolaria.hhp)

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

chm_contexts(add ${SOURCE_DIR}/Scolaria.hhp ${chm})

# Renamed into place so that a build interrupted here never leaves half a help file.
file(COPY_FILE ${chm} ${OUTPUT}.tmp)
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
