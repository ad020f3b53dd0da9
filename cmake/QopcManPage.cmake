# Writes the man page of qopc from the tool's own help texts (cmake -P):
#   -DQOPC=<the built tool> -DVERSION=<version> -DOUTPUT=<file.1>
# and compresses it to <file.1>.gz, as man pages are installed.
function(roff_escape var text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  set(${var} "${text}" PARENT_SCOPE)
endfunction()

function(help_of var)
  # The page is English, whatever language the build runs in.
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=LANGUAGE LC_ALL=C LANG=C
                          ${QOPC} ${ARGN} --help OUTPUT_VARIABLE out RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "qopc ${ARGN} --help failed (${rc})")
  endif()
  set(${var} "${out}" PARENT_SCOPE)
endfunction()

help_of(overview)
roff_escape(overview_roff "${overview}")
set(page ".TH QOPC 1 \"\" \"veze6 ${VERSION}\" \"User Commands\"
.SH NAME
qopc \\- command\\-line tool for OPC DA servers
.SH SYNOPSIS
.B qopc
\\fIcommand\\fR [\\fIoptions\\fR]
.SH DESCRIPTION
.nf
${overview_roff}.fi
.SH COMMANDS
")
# The commands are the indented lines of the overview's command list.
string(REGEX MATCH "commands:\n(  [^\n]+\n)+" list "${overview}")
string(REGEX MATCHALL "\n  [a-z-]+" names "${list}")
foreach(name IN LISTS names)
  string(STRIP "${name}" name)
  help_of(text ${name})
  # The first line names the program as it was started; the page names it
  # as users type it.
  string(REGEX REPLACE "^Usage: [^\n]* \\[options\\]" "Usage: qopc ${name} [options]" text "${text}")
  roff_escape(text "${text}")
  string(APPEND page ".SS ${name}\n.nf\n${text}.fi\n")
endforeach()
string(APPEND page ".SH \"EXIT STATUS\"
.TP
.B 0
success
.TP
.B 1
the command failed: no connection, a server call failed or (read, write,
items) at least one item failed
.TP
.B 2
usage error: unknown command or option, missing or malformed argument
.SH ENVIRONMENT
.TP
.B XDG_CONFIG_DIRS, XDG_CONFIG_HOME
folders searched for veze6/servers.d/*.conf, the registration files of
in\\-process server modules
.TP
.B QT_LOGGING_RULES
e.g. \\(dqveze6.*.debug=true\\(dq shows the library's diagnostics
.SH FILES
.TP
.I /etc/xdg/veze6/servers.d/
registration files of the system's server modules
.TP
.I ~/.config/veze6/servers.d/
the user's registration files
")
file(WRITE ${OUTPUT} "${page}")
execute_process(COMMAND gzip -9nf ${OUTPUT} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "gzip ${OUTPUT} failed")
endif()
