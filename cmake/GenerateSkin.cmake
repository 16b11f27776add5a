# Writes one skin style sheet from the shared template and a skin's palette:
#   cmake -DTEMPLATE=Skin.ssk.in -DPALETTE=Silver.palette -DOUTPUT=Silver.ssk -P GenerateSkin.cmake
#
# Palette: one "name = value" a line; lines starting with "#" and blank lines
# are skipped. Template: every @name@ takes the palette's value; a block
# between the lines "%if name" and "%endif" is kept only when the palette sets
# name to "on"; lines starting with "%%" are notes for whoever edits it.
# Style sheets are full of ";", so the text is never handled as a CMake list.
cmake_minimum_required(VERSION 3.25)

foreach(required TEMPLATE PALETTE OUTPUT)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "GenerateSkin.cmake needs -D${required}=...")
  endif()
endforeach()

file(READ "${PALETTE}" palette)
set(defined "")
while(NOT palette STREQUAL "")
  string(FIND "${palette}" "\n" end)
  if(end EQUAL -1)
    set(line "${palette}")
    set(palette "")
  else()
    string(SUBSTRING "${palette}" 0 ${end} line)
    math(EXPR end "${end} + 1")
    string(SUBSTRING "${palette}" ${end} -1 palette)
  endif()
  if(line MATCHES "^[ \t]*(#.*)?$")
    continue()
  endif()
  if(NOT line MATCHES "^([a-z][a-z0-9_]*) = (.+)$")
    message(FATAL_ERROR "${PALETTE}: not a \"name = value\" line: ${line}")
  endif()
  set("skin_${CMAKE_MATCH_1}" "${CMAKE_MATCH_2}")
  list(APPEND defined "${CMAKE_MATCH_1}")
endwhile()

file(READ "${TEMPLATE}" sheet)
string(REGEX REPLACE "(^|\n)%%[^\n]*" "" sheet "${sheet}")
string(REGEX REPLACE "^\n" "" sheet "${sheet}")

# A value the template never asks for is a misspelt or stale palette line.
string(REGEX MATCHALL "@[a-z][a-z0-9_]*@|%if [a-z0-9_]+" wanted "${sheet}")
list(TRANSFORM wanted REPLACE "^@|@$|^%if " "")
foreach(name IN LISTS defined)
  if(NOT name IN_LIST wanted)
    message(FATAL_ERROR "${PALETTE}: \"${name}\" is not used by ${TEMPLATE}")
  endif()
endforeach()

# Optional blocks: kept without their marker lines, or dropped whole.
string(REGEX MATCHALL "%if [a-z0-9_]+" blocks "${sheet}")
list(REMOVE_DUPLICATES blocks)
foreach(block IN LISTS blocks)
  string(SUBSTRING "${block}" 4 -1 flag)
  if(skin_${flag} STREQUAL "on")
    string(REGEX REPLACE "%if ${flag}\n([^%]*)%endif\n" "\\1" sheet "${sheet}")
  else()
    string(REGEX REPLACE "%if ${flag}\n([^%]*)%endif\n" "" sheet "${sheet}")
  endif()
endforeach()
if(sheet MATCHES "%(if|endif)")
  message(FATAL_ERROR "${TEMPLATE}: an %if block is not closed or holds a \"%\"")
endif()

# Every placeholder must have a value: a misspelt name would otherwise leave
# an empty property that Qt silently ignores.
string(REGEX MATCHALL "@[a-z][a-z0-9_]*@" placeholders "${sheet}")
list(REMOVE_DUPLICATES placeholders)
foreach(placeholder IN LISTS placeholders)
  string(REGEX REPLACE "^@(.*)@$" "\\1" name "${placeholder}")
  if(NOT name IN_LIST defined)
    message(FATAL_ERROR "${PALETTE}: no value for \"${name}\" used by ${TEMPLATE}")
  endif()
  string(REPLACE "${placeholder}" "${skin_${name}}" sheet "${sheet}")
endforeach()

# Write only on change, so an unchanged skin does not look rebuilt.
set(previous "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" previous)
endif()
if(NOT previous STREQUAL sheet)
  file(WRITE "${OUTPUT}" "${sheet}")
endif()
