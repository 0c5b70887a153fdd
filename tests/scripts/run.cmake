# Helpers for the tests that run built programs from CMake scripts.
#
# Variables the scripts take with -D:
#   EMULATOR  runs the program (wine for a cross build), '|' between words
#   EOL       the platform's line end: LF or CRLF
#   WORK_DIR  a scratch folder of the test's own

cmake_minimum_required(VERSION 3.25)

string(REPLACE "|" ";" EMULATOR "${EMULATOR}")
if(EOL STREQUAL "CRLF")
    set(EOL "\r\n")
else()
    set(EOL "\n")
endif()
# Nothing from the caller's environment chooses the board library.
unset(ENV{LD_LIBRARY_PATH})
unset(ENV{VORNEL_BOARD1})

# dio_run(<program> [TIMEOUT <seconds>] [WORKING_DIRECTORY <dir>] [ARGS <arg>...])
# Runs the program with standard input at its end and standard output into
# a file, stopping it after TIMEOUT seconds (default 20). Sets RUN_STATUS
# and RUN_OUTPUT, the output's raw bytes in hex.
function(dio_run program)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "TIMEOUT;WORKING_DIRECTORY" "ARGS")
    if(NOT arg_TIMEOUT)
        set(arg_TIMEOUT 20)
    endif()
    if(NOT arg_WORKING_DIRECTORY)
        set(arg_WORKING_DIRECTORY "${WORK_DIR}")
    endif()
    file(MAKE_DIRECTORY "${WORK_DIR}")
    file(WRITE "${WORK_DIR}/empty-input" "")
    execute_process(
        COMMAND ${EMULATOR} "${program}" ${arg_ARGS}
        WORKING_DIRECTORY "${arg_WORKING_DIRECTORY}"
        INPUT_FILE "${WORK_DIR}/empty-input"
        OUTPUT_FILE "${WORK_DIR}/output"
        RESULT_VARIABLE status
        TIMEOUT ${arg_TIMEOUT})
    file(READ "${WORK_DIR}/output" hex HEX)
    set(RUN_STATUS "${status}" PARENT_SCOPE)
    set(RUN_OUTPUT "${hex}" PARENT_SCOPE)
endfunction()

# dio_bytes(<var> <text>): <text> with each \n written as the platform's
# line end, in hex, to compare with RUN_OUTPUT.
function(dio_bytes var text)
    string(REPLACE "\n" "${EOL}" text "${text}")
    string(HEX "${text}" hex)
    set(${var} "${hex}" PARENT_SCOPE)
endfunction()

# dio_expect(<what> <status> <text>): the last run ended with <status>
# (ANY: any) and wrote exactly <text>.
function(dio_expect what status text)
    dio_bytes(want "${text}")
    if((NOT status STREQUAL "ANY" AND NOT RUN_STATUS STREQUAL status) OR
       NOT RUN_OUTPUT STREQUAL want)
        message(FATAL_ERROR "${what}: expected status ${status} and bytes\n  ${want}\n"
                            "got status ${RUN_STATUS} and bytes\n  ${RUN_OUTPUT}")
    endif()
endfunction()

# dio_expect_map(<dio-map> <status> <text> [<arg>...]): dio-map, run with
# those arguments, ended with <status> and its map began with <text>.
function(dio_expect_map program status text)
    dio_run("${program}" ARGS ${ARGN})
    dio_bytes(want "${text}")
    string(FIND "${RUN_OUTPUT}" "${want}" at)
    if(NOT RUN_STATUS EQUAL status OR NOT at EQUAL 0)
        message(FATAL_ERROR "${program} ${ARGN}: status ${RUN_STATUS}, bytes\n  ${RUN_OUTPUT}\n"
                            "not status ${status} and bytes starting\n  ${want}")
    endif()
endfunction()

# dio_expect_cycles(<what> <lines>): the last run, stopped from outside,
# wrote at least <lines> whole report lines of the simulated board, byte for
# byte, and nothing else.
function(dio_expect_cycles what lines)
    set(text "")
    foreach(i RANGE 1 10)
        string(APPEND text "do:55555555,di:55555555\ndo:aaaaaaaa,di:aaaaaaaa\n")
    endforeach()
    dio_bytes(all "${text}")
    dio_bytes(one "do:55555555,di:55555555\n")
    string(LENGTH "${one}" line_length)
    string(LENGTH "${RUN_OUTPUT}" length)
    math(EXPR whole "${length} % ${line_length}")
    math(EXPR least "${lines} * ${line_length}")
    string(SUBSTRING "${all}" 0 ${length} expected)
    if(NOT RUN_OUTPUT STREQUAL expected OR NOT whole EQUAL 0 OR length LESS least)
        message(FATAL_ERROR "${what}: expected ${lines} or more lines of\n  ${all}\n"
                            "got status ${RUN_STATUS} and bytes\n  ${RUN_OUTPUT}")
    endif()
endfunction()

# dio_expect_runs(<program> <seconds>): fails on an absent board at once
# with the message, and prints the first lines on the simulated one when
# stopped after <seconds>.
function(dio_expect_runs program seconds)
    set(ENV{VORNEL_BOARD1} absent)
    dio_run("${program}")
    dio_expect("${program} on an absent board" 0 "Open device failed!\n")
    unset(ENV{VORNEL_BOARD1})
    dio_run("${program}" TIMEOUT ${seconds})
    dio_expect_cycles("${program} on the simulated board" 1)
endfunction()

# dio_expect_safe_run_paths(<dir>): fails for each ELF file under <dir>
# whose RPATH or RUNPATH has an empty, relative or current-folder entry;
# every entry must be absolute or start at $ORIGIN.
function(dio_expect_safe_run_paths dir)
    # Other tests' scratch folders come and go while this one runs.
    file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE "${dir}" "${dir}/*")
    list(FILTER files EXCLUDE REGEX "(^|/)CMakeFiles/|^tests/work/|\\.(o|a|txt|cmake)$")
    list(TRANSFORM files PREPEND "${dir}/")
    set(checked 0)
    foreach(file IN LISTS files)
        if(IS_SYMLINK "${file}")
            continue()
        endif()
        file(READ "${file}" magic LIMIT 4 HEX)
        if(NOT magic STREQUAL "7f454c46")
            continue()
        endif()
        math(EXPR checked "${checked} + 1")
        execute_process(COMMAND readelf -d "${file}" OUTPUT_VARIABLE dynamic
                        COMMAND_ERROR_IS_FATAL ANY)
        string(REGEX MATCHALL "\\((RPATH|RUNPATH)\\)[^\n]*\\[[^]\n]*\\]" paths "${dynamic}")
        foreach(path IN LISTS paths)
            string(REGEX REPLACE ".*\\[(.*)\\]" "\\1" value "${path}")
            # Split on ':' keeping empty entries: "a::b" is a, "", b.
            string(REPLACE ":" ";<>" entries "<>${value}")
            foreach(entry IN LISTS entries)
                string(REPLACE "<>" "" entry "${entry}")
                if(NOT entry MATCHES "^(/|\\$ORIGIN(/|$)|\\$\\{ORIGIN\\}(/|$))")
                    message(FATAL_ERROR "${file} searches '${entry}' (run path '${value}')")
                endif()
            endforeach()
        endforeach()
    endforeach()
    if(checked EQUAL 0)
        message(FATAL_ERROR "no binaries under ${dir}")
    endif()
    message(STATUS "${checked} binaries under ${dir}: every run path safe")
endfunction()
