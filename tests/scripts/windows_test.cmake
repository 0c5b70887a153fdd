# Checks of the Windows build that the Linux suite cannot make.
#
#   -DCHECK=lines|failure|missing-dll|imports -DPROGRAM=... -DBOARD_DLL=...
#   -DOBJDUMP=... plus those of run.cmake

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
    # and nothing but Windows' own DLLs is needed beside the two files.
    imported_dlls(program_dlls "${PROGRAM}")
    string(REGEX MATCH "DLL Name: Vornel\\.dll[\r\n]+([^D]|D[^L])*" vornel "${DUMP}")
    foreach(operation Kestor_OpenDevice Kestor_DOAll Kestor_DIAll)
        if(NOT vornel MATCHES "[ \t]${operation}[\r\n]")
            message(FATAL_ERROR "${operation} is not imported from Vornel.dll:\n${DUMP}")
        endif()
    endforeach()
    imported_dlls(board_dlls "${BOARD_DLL}")
    set(system_dll "^(kernel32|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+)\\.dll$")
    foreach(dll IN LISTS program_dlls board_dlls)
        if(NOT dll MATCHES "${system_dll}" AND NOT dll STREQUAL "vornel.dll")
            message(FATAL_ERROR "needs ${dll} beside it; imports: ${program_dlls}; ${board_dlls}")
        endif()
    endforeach()
    if(NOT "vornel.dll" IN_LIST program_dlls OR "vornel.dll" IN_LIST board_dlls)
        message(FATAL_ERROR "unexpected imports: ${program_dlls}; ${board_dlls}")
    endif()
else()
    message(FATAL_ERROR "unknown CHECK '${CHECK}'")
endif()
