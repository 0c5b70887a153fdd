# Checks of the Windows build that the Linux suite cannot make.
#
#   -DCHECK=lines|failure|missing-dll|imports|dio-check|dio-map|by-hand
#   -DPROGRAM=... -DBOARD_DLL=... -DOBJDUMP=... -DCHECK_PROGRAM=...
#   -DMAP_PROGRAM=... -DSET_PROGRAM=... -DGET_PROGRAM=...
#   plus those of run.cmake

include("${CMAKE_CURRENT_LIST_DIR}/run.cmake")
file(REMOVE_RECURSE "${WORK_DIR}")

# Names of the DLLs that <binary> imports, in lower case.
function(imported_dlls var binary)
    execute_process(COMMAND "${OBJDUMP}" -p "${binary}" OUTPUT_VARIABLE dump
                    COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL "DLL Name: [^\r\n]+" names "${dump}")
    list(TRANSFORM names REPLACE "DLL Name: " "")
    list(TRANSFORM names TOLOWER)
    set(${var} "${names}" PARENT_SCOPE)
    set(DUMP "${dump}" PARENT_SCOPE)
endfunction()

if(CHECK STREQUAL "lines")
    # The simulated board's first lines, each ending in \r\n.
    dio_run("${PROGRAM}" TIMEOUT 4.5)
    dio_expect_cycles("first lines" 2)

elseif(CHECK STREQUAL "failure")
    # The message, then the end at once: standard input is at its end.
    set(ENV{VORNEL_BOARD1} absent)
    dio_run("${PROGRAM}" TIMEOUT 10)
    dio_expect("failure path" 0 "Open device failed!\n")

elseif(CHECK STREQUAL "missing-dll")
    # Without Vornel.dll the loader refuses to start the program.
    file(COPY "${PROGRAM}" DESTINATION "${WORK_DIR}/alone")
    get_filename_component(name "${PROGRAM}" NAME)
    dio_run("${WORK_DIR}/alone/${name}" WORKING_DIRECTORY "${WORK_DIR}/alone" TIMEOUT 10)
    if(NOT RUN_STATUS MATCHES "^[0-9]+$" OR RUN_STATUS EQUAL 0 OR NOT RUN_OUTPUT STREQUAL "")
        message(FATAL_ERROR "without Vornel.dll: status ${RUN_STATUS}, output ${RUN_OUTPUT}")
    endif()

elseif(CHECK STREQUAL "imports")
    # The three operations come from Vornel.dll through the import table,
    # and nothing but Windows' own DLLs is needed beside the files shipped.
    imported_dlls(program_dlls "${PROGRAM}")
    string(REGEX MATCH "DLL Name: Vornel\\.dll[\r\n]+([^D]|D[^L])*" vornel "${DUMP}")
    foreach(operation Kestor_OpenDevice Kestor_DOAll Kestor_DIAll)
        if(NOT vornel MATCHES "[ \t]${operation}[\r\n]")
            message(FATAL_ERROR "${operation} is not imported from Vornel.dll:\n${DUMP}")
        endif()
    endforeach()
    imported_dlls(board_dlls "${BOARD_DLL}")
    # libmodbus's DLL, where Modbus boards are built, ships beside Vornel.dll.
    get_filename_component(dir "${BOARD_DLL}" DIRECTORY)
    set(modbus_dlls)
    if("libmodbus-5.dll" IN_LIST board_dlls)
        imported_dlls(modbus_dlls "${dir}/libmodbus-5.dll")
    endif()
    set(system_dll "^(kernel32|msvcrt|ucrtbase|ws2_32|wsock32|api-ms-win-[a-z0-9-]+)\\.dll$")
    foreach(dll IN LISTS program_dlls board_dlls modbus_dlls)
        if(NOT dll MATCHES "${system_dll}|^vornel\\.dll$|^libmodbus-5\\.dll$")
            message(FATAL_ERROR "needs ${dll}; imports: ${program_dlls}; ${board_dlls}; ${modbus_dlls}")
        endif()
    endforeach()
    if(NOT "vornel.dll" IN_LIST program_dlls OR "vornel.dll" IN_LIST board_dlls)
        message(FATAL_ERROR "unexpected imports: ${program_dlls}; ${board_dlls}")
    endif()
elseif(CHECK STREQUAL "dio-check")
    # dio-check on saved Windows reports: verdict, message and exit status.
    set(good "do:55555555,di:55555555\r\ndo:aaaaaaaa,di:aaaaaaaa\r\n")
    foreach(case "pass|0|${good}|PASS"
                 "fail|1|do:55555555,di:55555555\r\ndo:aaaaaaaa,di:aaaaaa8a\r\n|DI 5: stuck low\r?\n"
                 "open|2|Open device failed!\r\n|could not open board 1")
        string(REPLACE "|" ";" case "${case}")
        list(GET case 0 name)
        list(GET case 1 want_status)
        list(GET case 2 report)
        list(GET case 3 want_text)
        file(WRITE "${WORK_DIR}/${name}.txt" "${report}")
        execute_process(COMMAND ${EMULATOR} "${CHECK_PROGRAM}" "${name}.txt"
                        WORKING_DIRECTORY "${WORK_DIR}" RESULT_VARIABLE status
                        OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 20)
        if(NOT status STREQUAL want_status OR NOT "${out}${err}" MATCHES "${want_text}")
            message(FATAL_ERROR "${name}: status ${status}, output:\n${out}${err}")
        endif()
    endforeach()
    execute_process(COMMAND ${EMULATOR} "${CHECK_PROGRAM}" --version
                    RESULT_VARIABLE status OUTPUT_VARIABLE out TIMEOUT 20)
    if(NOT status EQUAL 0 OR NOT out MATCHES "^dio-check [0-9.]+\r?\n$")
        message(FATAL_ERROR "--version: status ${status}, output ${out}")
    endif()
elseif(CHECK STREQUAL "dio-map")
    # dio-map.exe beside the stand-in Vornel.dll, on the simulated board with
    # a plug written with Windows line ends: DI 2 and DI 4 crossed, DI 5 low.
    file(WRITE "${WORK_DIR}/jig.map" "DI 2: DO 4\r\nDI 4: DO 2\r\nDI 5: low  # stuck\r\n")
    set(ENV{VORNEL_BOARD1_PLUG} jig.map)
    dio_expect_map("${MAP_PROGRAM}" 1 "DI 0: DO 0\nDI 1: DO 1\nDI 2: DO 4  # crossed\nDI 3: DO 3\n\
DI 4: DO 2  # crossed\nDI 5: low  # stuck\n# DO 5 drives no input\n" --outputs 3f --inputs 3f)
elseif(CHECK STREQUAL "by-hand")
    # dio-set.exe and dio-get.exe beside the stand-in, on a plug that crosses
    # DI 7 and DI 0: one process writes and reads the simulated board.
    file(WRITE "${WORK_DIR}/jig.map" "DI 0: DO 7\r\nDI 7: DO 0\r\n")
    set(ENV{VORNEL_BOARD1_PLUG} jig.map)
    dio_run("${SET_PROGRAM}" ARGS --read --for 100 80)
    dio_expect("dio-set --read --for 100 80" 0 "do:80,di:1\n")
    dio_run("${GET_PROGRAM}")
    dio_expect("dio-get" 0 "di:0\n")
else()
    message(FATAL_ERROR "unknown CHECK '${CHECK}'")
endif()
