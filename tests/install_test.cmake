# Installs the build (cmake --install, then the cpack Debian package) into
# scratch folders and runs each installed program on its own, with no
# environment to help it find the board library.
#
#   cmake -DBUILD_DIR=... -DWORK_DIR=... -P install_test.cmake

function(expect_runs program)
    execute_process(COMMAND readelf -d "${program}" OUTPUT_VARIABLE dynamic)
    string(FIND "${dynamic}" "${BUILD_DIR}" at)
    if(NOT at EQUAL -1)
        message(FATAL_ERROR "${program} looks for libraries in the build tree:\n${dynamic}")
    endif()
    # Fails to open an absent board and ends at once: the library loaded.
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH VORNEL_BOARD1=absent ${program}
        INPUT_FILE /dev/null OUTPUT_VARIABLE out RESULT_VARIABLE status TIMEOUT 10)
    if(NOT status EQUAL 0 OR NOT out STREQUAL "Open device failed!\n")
        message(FATAL_ERROR "${program} on an absent board: status ${status}, output '${out}'")
    endif()
    # Runs on the simulated board until stopped after its first line.
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env --unset=LD_LIBRARY_PATH --unset=VORNEL_BOARD1 ${program}
        INPUT_FILE /dev/null OUTPUT_VARIABLE out TIMEOUT 1.8)
    if(NOT out STREQUAL "do:55555555,di:55555555\n")
        message(FATAL_ERROR "${program} on the simulated board printed '${out}'")
    endif()
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")

execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${WORK_DIR}/prefix"
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
expect_runs("${WORK_DIR}/prefix/bin/dio-exerciser")

execute_process(COMMAND cpack -G DEB -B "${WORK_DIR}/package"
                WORKING_DIRECTORY "${BUILD_DIR}" OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
file(GLOB deb "${WORK_DIR}/package/*.deb")
execute_process(COMMAND dpkg-deb -x "${deb}" "${WORK_DIR}/root" COMMAND_ERROR_IS_FATAL ANY)
expect_runs("${WORK_DIR}/root/usr/bin/dio-exerciser")
