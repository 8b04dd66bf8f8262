# Writes the manual page of deltamaker from its own --help texts with help2man:
# the program's help as the synopsis and description, every command's help as a COMMANDS section.
#   cmake -DDELTAMAKER=... -DHELP2MAN=... -DVERSION=... -DOUT=.../deltamaker.1 -P deltamaker_man.cmake
foreach(v DELTAMAKER HELP2MAN VERSION OUT)
  if(NOT DEFINED ${v})
    message(FATAL_ERROR "deltamaker_man.cmake: ${v} is not set")
  endif()
endforeach()

execute_process(COMMAND ${DELTAMAKER} --help OUTPUT_VARIABLE main_help RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "deltamaker --help failed: ${rc}")
endif()

# Command names: the indented first words of the "Commands:" block.
string(REGEX MATCH "\nCommands:\n(  [^\n]+\n)+" block "${main_help}")
string(REGEX MATCHALL "\n  [a-z][a-z0-9-]*" names "${block}")

# Roff-safe text: backslashes escaped, and no line may start with a control character.
function(roff_text in out)
  string(REPLACE "\\" "\\e" t "${in}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" t "${t}")
  string(REPLACE "-" "\\-" t "${t}")
  set(${out} "${t}" PARENT_SCOPE)
endfunction()

set(include "[NAME]\ndeltamaker \\- build, show, verify and dry-run FotaPKG firmware upgrade packages\n")
string(APPEND include "[SYNOPSIS]\n.B deltamaker\n.I COMMAND\n.RI [ ARGS ]\n")
string(APPEND include "[COMMANDS]\n")
foreach(n ${names})
  string(STRIP "${n}" name)
  execute_process(COMMAND ${DELTAMAKER} ${name} --help OUTPUT_VARIABLE text ERROR_VARIABLE err
                  RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "deltamaker ${name} --help failed: ${rc} ${err}")
  endif()
  roff_text("${text}" text)
  string(APPEND include ".SS ${name}\n.nf\n${text}.fi\n")
endforeach()
string(APPEND include "[SEE ALSO]\n.BR tessel (1)\n")
file(WRITE ${OUT}.include "${include}")

execute_process(
  COMMAND ${HELP2MAN} --no-info --no-discard-stderr --version-string=${VERSION}
          --section=1 --source=Tessel --manual=User\ Commands
          --include=${OUT}.include --output=${OUT}.tmp ${DELTAMAKER}
  RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "help2man failed: ${err}")
endif()
file(RENAME ${OUT}.tmp ${OUT})
