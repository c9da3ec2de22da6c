# cmake -DCHECK=<check_layers.cmake> -DWORK=<scratch folder> -P check_layers_planted.cmake
cmake_minimum_required(VERSION 3.25)
# Plants one fault per case in an otherwise empty source tree and requires
# check_layers.cmake to fail on it, naming the fault; a clean tree must pass.
set(cases
  "http/x.h|#include \"sharing/share.h\"|of a higher library"
  "core/x.cpp|#include <unistd.h>|OS header"
  "core/state.h|extern int g_count@|mutable extern variable"
  "sharing/state.h|  extern std::atomic<bool> g_on@|mutable extern variable"
  "ui/win32/x.cpp|#include \"http/listener.h\"|service header"
  "ui/terminal/x.cpp|#include \"tunnel/supervisor.h\"|service header"
  "ui/terminal/y.cpp|#include \"ui/win32/ui.h\"|desktop shell"
  "core/ok.h|extern const char* const kNames[]@|"
  "ui/win32/ui.h|extern int g_dpi@|")
set(n 0)
foreach(case IN LISTS cases)
  string(REPLACE "|" ";" parts "${case}")
  list(GET parts 0 file)
  list(GET parts 1 line)
  list(LENGTH parts count)
  set(want "")
  if(count GREATER 2)
    list(GET parts 2 want)
  endif()
  string(REPLACE "@" ";" line "${line}")
  math(EXPR n "${n} + 1")
  set(tree ${WORK}/planted_${n})
  file(REMOVE_RECURSE ${tree})
  file(WRITE ${tree}/${file} "${line}\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -DSRC=${tree} -P ${CHECK}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  file(REMOVE_RECURSE ${tree})
  if(want STREQUAL "" AND NOT rc EQUAL 0)
    message(SEND_ERROR "${file}: a clean case failed the check:\n${out}")
  elseif(NOT want STREQUAL "" AND (rc EQUAL 0 OR NOT out MATCHES "${want}"))
    message(SEND_ERROR "${file}: '${line}' was not reported as '${want}':\n${out}")
  endif()
endforeach()
