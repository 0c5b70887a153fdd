# Builds the program against another board library with -DVORNEL_DIR, as a
# user with the maker's library does, and checks that the stand-in is then
# neither built nor installed and that the program runs on the other one.
#
#   -DSOURCE_DIR=... -DMAKER_DIR=... -DGENERATOR=... -DCOMPILER=...
#   [-DTOOLCHAIN=...] -DSANITIZE=ON|OFF -DEXE_SUFFIX=... plus those of run.cmake

include("${CMAKE_CURRENT_LIST_DIR}/run.cmake")
file(REMOVE_RECURSE "${WORK_DIR}")
set(build "${WORK_DIR}/build")

set(configure -S "${SOURCE_DIR}" -B "${build}" -G "${GENERATOR}" -DCMAKE_BUILD_TYPE=Release
    -DVORNEL_DIR=${MAKER_DIR} -DBUILD_TESTING=OFF -DDIO_BUILD_BENCH=OFF
    -DDIO_SANITIZE=${SANITIZE})
if(TOOLCHAIN)
    list(APPEND configure -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
else()
    list(APPEND configure -DCMAKE_CXX_COMPILER=${COMPILER})
endif()
execute_process(COMMAND ${CMAKE_COMMAND} ${configure} OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --build "${build}" --parallel 2
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${CMAKE_COMMAND} --install "${build}" --prefix "${WORK_DIR}/prefix"
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)

# The stand-in was not built: the only board library in the build tree is
# the maker's DLL, copied beside the program on Windows.
file(GLOB_RECURSE built RELATIVE "${build}" "${build}/*Vornel*")
list(FILTER built EXCLUDE REGEX "^CMakeFiles/")
if(EXE_SUFFIX)
    file(SHA256 "${MAKER_DIR}/Vornel.dll" maker_dll)
    file(SHA256 "${build}/bin/Vornel.dll" copied_dll)
    if(NOT built STREQUAL "bin/Vornel.dll" OR NOT maker_dll STREQUAL copied_dll)
        message(FATAL_ERROR "board libraries in the build tree: ${built}")
    endif()
elseif(built)
    message(FATAL_ERROR "the stand-in was built: ${built}")
endif()
# The two programs and, on Linux, their documentation; no board library.
file(GLOB_RECURSE installed RELATIVE "${WORK_DIR}/prefix" "${WORK_DIR}/prefix/*")
list(FILTER installed EXCLUDE REGEX "^share/(man|doc|lintian)/")
if(NOT installed STREQUAL "bin/dio-check${EXE_SUFFIX};bin/dio-exerciser${EXE_SUFFIX}")
    message(FATAL_ERROR "installed more than the two programs: ${installed}")
endif()

# It runs on the maker's library, which reads every output back inverted.
set(programs "${build}/bin/dio-exerciser${EXE_SUFFIX}")
if(NOT EXE_SUFFIX)
    list(APPEND programs "${WORK_DIR}/prefix/bin/dio-exerciser")
endif()
dio_bytes(first_line "do:55555555,di:aaaaaaaa\n")
foreach(program IN LISTS programs)
    dio_run("${program}" TIMEOUT ${SECONDS_FOR_A_LINE})
    string(FIND "${RUN_OUTPUT}" "${first_line}" at)
    if(NOT at EQUAL 0)
        message(FATAL_ERROR "${program} printed ${RUN_OUTPUT}, not ${first_line}")
    endif()
endforeach()
