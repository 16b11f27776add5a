# Runs GenerateSkin.cmake on a small template with a table of palettes and
# checks the sheet it writes, or the error it stops with.
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(WRITE "${WORK}/Skin.ssk.in" [=[%% a note for whoever edits the template
/* "@name@" */
QWidget { color: @text@; }
%if arrows
QScrollBar::up-arrow { background: @arrow@; }
%endif
QToolTip { border: 1px solid @text@; }
]=])

set(failures 0)
# check(<case> <palette text> <expected sheet, or "ERROR:" and a piece of the message>)
function(check case palette expected)
  file(WRITE "${WORK}/${case}.palette" "${palette}")
  execute_process(COMMAND ${CMAKE_COMMAND} -DTEMPLATE=${WORK}/Skin.ssk.in -DPALETTE=${WORK}/${case}.palette
                          -DOUTPUT=${WORK}/${case}.ssk -P ${GENERATOR}
                  RESULT_VARIABLE status ERROR_VARIABLE errors)
  string(REGEX REPLACE "[ \n]+" " " errors "${errors}")
  if(expected MATCHES "^ERROR:(.*)$")
    string(FIND "${errors}" "${CMAKE_MATCH_1}" at)
    if(status EQUAL 0 OR at EQUAL -1)
      message(SEND_ERROR "${case}: wanted an error with \"${CMAKE_MATCH_1}\", got status ${status}: ${errors}")
    endif()
    return()
  endif()
  if(NOT status EQUAL 0)
    message(SEND_ERROR "${case}: failed: ${errors}")
    return()
  endif()
  file(READ "${WORK}/${case}.ssk" sheet)
  if(NOT sheet STREQUAL expected)
    message(SEND_ERROR "${case}: wrote\n${sheet}\ninstead of\n${expected}")
  endif()
endfunction()

check(without_block "# a comment\n\nname = Plain\ntext = #102030\n"
  "/* \"Plain\" */\nQWidget { color: #102030; }\nQToolTip { border: 1px solid #102030; }\n")
check(with_block "name = XP\ntext = #000000\narrows = on\narrow = qlineargradient(x1:0, y1:0, stop:0 #fff, stop:1 #000)\n"
  "/* \"XP\" */\nQWidget { color: #000000; }\nQScrollBar::up-arrow { background: qlineargradient(x1:0, y1:0, stop:0 #fff, stop:1 #000); }\nQToolTip { border: 1px solid #000000; }\n")
check(semicolon_in_a_value "name = A; B\ntext = red\n"
  "/* \"A; B\" */\nQWidget { color: red; }\nQToolTip { border: 1px solid red; }\n")
check(missing_value "name = Short\n" "ERROR:no value for \"text\"")
check(misspelt_name "name = Typo\ntext = red\ntxet = blue\n" "ERROR:\"txet\" is not used by")
check(not_a_value_line "name = Bad\ntext: red\n" "ERROR:not a \"name = value\" line: text: red")
