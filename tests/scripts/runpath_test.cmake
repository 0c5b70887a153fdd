# No binary built here may search the current folder or a relative one for
# libraries: every run path entry must be absolute or start at $ORIGIN.
# Checks the build tree, an install and the Debian package, and shows it
# on the program: a copy run from a folder holding another libVornel.so
# must not load it.
#
#   -DBUILD_DIR=... -DCONFIG=... -DMAKER_LIB=... plus those of run.cmake

include("${CMAKE_CURRENT_LIST_DIR}/run.cmake")
file(REMOVE_RECURSE "${WORK_DIR}")

# Fails for each ELF file under @dir whose RPATH or RUNPATH has an empty,
# relative or current-folder entry.
function(expect_safe_run_paths dir)
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

expect_safe_run_paths("${BUILD_DIR}")

execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --config "${CONFIG}"
                        --prefix "${WORK_DIR}/prefix"
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
expect_safe_run_paths("${WORK_DIR}/prefix")

execute_process(COMMAND cpack -G DEB -C "${CONFIG}" -B "${WORK_DIR}/package"
                WORKING_DIRECTORY "${BUILD_DIR}" OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
file(GLOB package "${WORK_DIR}/package/*.deb")
execute_process(COMMAND dpkg-deb -x "${package}" "${WORK_DIR}/root" COMMAND_ERROR_IS_FATAL ANY)
expect_safe_run_paths("${WORK_DIR}/root")

# The program copied on its own and started from a folder that holds some
# other libVornel.so: the loader must not find that one.
file(MAKE_DIRECTORY "${WORK_DIR}/copy" "${WORK_DIR}/cwd")
file(COPY "${BUILD_DIR}/bin/dio-exerciser" DESTINATION "${WORK_DIR}/copy")
file(COPY "${MAKER_LIB}" DESTINATION "${WORK_DIR}/cwd")
dio_run("${WORK_DIR}/copy/dio-exerciser" WORKING_DIRECTORY "${WORK_DIR}/cwd"
        TIMEOUT ${SECONDS_FOR_A_LINE})
if(RUN_STATUS EQUAL 0 OR NOT RUN_OUTPUT STREQUAL "")
    message(FATAL_ERROR "a copy of the program ran on the current folder's libVornel.so "
                        "(status ${RUN_STATUS}, output ${RUN_OUTPUT})")
endif()
