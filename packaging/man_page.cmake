# Writes pontix-cli's manual page from the program's own help texts, so that the page says
# what the program says: the general --help names the orders, and each order's --help is its
# section, verbatim.
#   cmake -DCLI=<pontix-cli> -DVERSION=<x.y> -DGZIP=<gzip> -DOUTPUT=<pontix-cli.1> -P man_page.cmake
# Writes OUTPUT and OUTPUT.gz.

# CMake lists split on ';' and keep bracketed text together: the help texts have both, so
# they stand in for them until a line is written out.
string(ASCII 1 semicolon)
string(ASCII 2 open_bracket)
string(ASCII 3 close_bracket)

function(help_lines out_var)
  execute_process(COMMAND ${CLI} ${ARGN} --help
                  OUTPUT_VARIABLE text RESULT_VARIABLE result ERROR_VARIABLE error)
  if(NOT result EQUAL 0 OR text STREQUAL "")
    message(FATAL_ERROR "pontix-cli ${ARGN} --help failed (${result}): ${error}")
  endif()
  string(REGEX REPLACE "\n$" "" text "${text}")
  string(REPLACE ";" "${semicolon}" text "${text}")
  string(REPLACE "[" "${open_bracket}" text "${text}")
  string(REPLACE "]" "${close_bracket}" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(${out_var} "${lines}" PARENT_SCOPE)
endfunction()

# One line of help as troff prints it: backslashes and minus signs escaped, and a line that
# starts with a control character made plain text.
function(troff_line out_var line)
  string(REPLACE "${semicolon}" ";" line "${line}")
  string(REPLACE "${open_bracket}" "[" line "${line}")
  string(REPLACE "${close_bracket}" "]" line "${line}")
  string(REPLACE "\\" "\\e" line "${line}")
  string(REPLACE "-" "\\-" line "${line}")
  if(line MATCHES "^[.']")
    set(line "\\&${line}")
  endif()
  set(${out_var} "${line}" PARENT_SCOPE)
endfunction()

# The lines of a list, blank ones too, as a block printed as it is.
function(verbatim out_var list_var)
  set(block ".nf\n")
  foreach(line IN LISTS ${list_var})
    troff_line(line "${line}")
    string(APPEND block "${line}\n")
  endforeach()
  set(${out_var} "${block}.fi\n" PARENT_SCOPE)
endfunction()

help_lines(general)

# The orders: the lines of the "Órdenes:" block that start with two spaces and a name.
set(orders)
set(in_orders FALSE)
set(description)
set(started FALSE)
foreach(line IN LISTS general)
  # The usage line goes to the synopsis, the blank lines after it nowhere.
  if(line MATCHES "^Uso:" OR (NOT started AND line STREQUAL ""))
    continue()
  endif()
  set(started TRUE)
  list(APPEND description "${line}")
  if(line STREQUAL "Órdenes:")
    set(in_orders TRUE)
  elseif(line STREQUAL "")
    set(in_orders FALSE)
  elseif(in_orders AND line MATCHES "^  ([a-z][a-z-]*)( |$)")
    list(APPEND orders "${CMAKE_MATCH_1}")
  endif()
endforeach()
if(NOT orders)
  message(FATAL_ERROR "pontix-cli --help names no order")
endif()
# Each order's usage, up to its first blank line, for the synopsis; its whole help for its section.
set(synopsis)
set(sections)
foreach(order IN LISTS orders)
  help_lines(help ${order})
  set(usage)
  foreach(line IN LISTS help)
    if(line STREQUAL "")
      break()
    endif()
    # Without "Uso: ", and its continuation lines as much less indented.
    string(SUBSTRING "${line}" 0 5 head)
    if(head STREQUAL "Uso: " OR head STREQUAL "     ")
      string(SUBSTRING "${line}" 5 -1 line)
    endif()
    list(APPEND usage "${line}")
  endforeach()
  list(APPEND synopsis ${usage})
  verbatim(block help)
  string(APPEND sections ".SS ${order}\n${block}")
endforeach()
list(APPEND synopsis "pontix-cli ORDEN --help" "pontix-cli --help" "pontix-cli --version")
verbatim(synopsis_block synopsis)
verbatim(description_block description)

string(TIMESTAMP date "%Y-%m-%d" UTC)
file(WRITE "${OUTPUT}" ".\\\" -*- coding: UTF-8 -*-
.\\\" Made at build time from pontix-cli's --help texts; edit those, not this.
.TH PONTIX\\-CLI 1 \"${date}\" \"Pontix ${VERSION}\" \"Órdenes de usuario\"
.\\\" English hyphenation patterns would cut Spanish words wrongly.
.nh
.SH NOMBRE
pontix\\-cli \\- exporta e importa datos entre Horalia y Scolaria sin ventana
.SH SINOPSIS
${synopsis_block}.SH DESCRIPCIÓN
.B pontix\\-cli
es el conversor de Pontix sin ventana, para guiones y pruebas: hace lo mismo que la ventana
.BR pontix ,
escribe sus mensajes en español por la salida de errores y no pregunta nada.
.PP
${description_block}.SH ÓRDENES
${sections}.SH \"CÓDIGOS DE SALIDA\"
.TP
.B 0
La orden ha terminado bien.
.TP
.B 1
Error: el mensaje, por la salida de errores, dice cuál.
.TP
.B 2
Uso incorrecto: orden u opción desconocida, o falta un argumento; sigue la ayuda de la orden.
.TP
.B 3
Exportar ha dejado algún curso sin nivel o sin curso y no se ha dado \\-\\-incompletos.
.SH \"VÉASE TAMBIÉN\"
.BR pontix (1),
la ventana del conversor, y su ayuda
.IR Scolaria.chm ,
junto al programa o en share/pontix de la instalación (/usr/share/pontix en el paquete de Debian).
")

execute_process(COMMAND ${GZIP} -9 -n -c "${OUTPUT}" OUTPUT_FILE "${OUTPUT}.gz" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "gzip failed (${result})")
endif()
