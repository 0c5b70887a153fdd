# No binary built here may search the current folder or a relative one for
# libraries. Checks every run path in the build tree (the install and the
# package are checked by install_test.cmake), and shows it on the program:
# a copy run from a folder holding another libVornel.so must not load it.
#
#   -DBUILD_DIR=... -DMAKER_LIB=... plus those of run.cmake

include("${CMAKE_CURRENT_LIST_DIR}/run.cmake")
file(REMOVE_RECURSE "${WORK_DIR}")

dio_expect_safe_run_paths("${BUILD_DIR}")

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
