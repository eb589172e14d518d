# `kestcam COMMAND --help` for every command: the command's usage on standard output, nothing on
# standard error, exit status 0, wherever --help stands among the arguments. A usage error still
# prints the usage on standard error with status 2. Run as: cmake -DKESTCAM=<program> -P <this file>
cmake_minimum_required(VERSION 3.20)

# command # arguments (comma-separated) # exit status # how the usage starts
set(cases
  "list#--help#0#usage: kestcam list"
  "grab#--help#0#usage: kestcam grab --camera NAME"
  "grab#--camera,Camera 1,-h#0#usage: kestcam grab --camera NAME"
  "props#get,--help#0#usage: kestcam props get|range"
  "lut#generate,--help#0#usage: kestcam lut generate"
  "camsim#--help#0#usage: kestcam camsim"
  "share#watch,NAME,--help#0#usage: kestcam share watch NAME"
  "view#--help#0#usage: kestcam view"
  "grab##2#usage: kestcam grab --camera NAME")
foreach(case IN LISTS cases)
  string(REPLACE "#" ";" fields "${case}")
  list(GET fields 0 command)
  list(GET fields 1 args)
  list(GET fields 2 wanted)
  list(GET fields 3 usage)
  string(REPLACE "," ";" args "${args}")
  execute_process(COMMAND ${KESTCAM} ${command} ${args} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(wanted EQUAL 0)
    set(shown "${out}")
    set(other "${err}")
  else()
    set(shown "${err}")
    set(other "${out}")
  endif()
  string(FIND "${shown}" "${usage}" at)
  if(NOT rc EQUAL wanted OR NOT at EQUAL 0 OR NOT other STREQUAL "")
    message(FATAL_ERROR "kestcam ${command} ${args}: status ${rc} (wanted ${wanted})\n"
                        "stdout: ${out}\nstderr: ${err}")
  endif()
endforeach()
message(STATUS "every command's help is on standard output with status 0")
