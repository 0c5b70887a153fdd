# Builds the programs against another board library with the manual's own
# commands (doc/boards.md, "Building against the maker's library"), run in a copy
# of the sources, as a user with the maker's library does, and checks that
# the stand-in is then neither built nor installed and that the programs
# run on the other one.
#
#   -DSOURCE_DIR=... -DMAKER_DIR=... -DCOMPILER=... [-DTOOLCHAIN=...]
#   -DSANITIZE=ON|OFF -DEXE_SUFFIX=... plus those of run.cmake

include("${CMAKE_CURRENT_LIST_DIR}/run.cmake")
file(REMOVE_RECURSE "${WORK_DIR}")
set(source "${WORK_DIR}/source")
# The folder's own name may hold anything a regular expression reads.
string(REGEX REPLACE "([][+.*?()^$|\\])" "\\\\\\1" source_pattern "${SOURCE_DIR}")
file(COPY "${SOURCE_DIR}/" DESTINATION "${source}"
     REGEX "^${source_pattern}/(build|\\.git)(/|$)" EXCLUDE)

# The commands of the section's first sh block, with its folder for the maker's.
file(READ "${SOURCE_DIR}/doc/boards.md" readme)
string(FIND "${readme}" "## Building against the maker's library" at)
string(SUBSTRING "${readme}" ${at} -1 readme)
string(REGEX MATCH "```sh\n([^`]*)```" block "${readme}")
string(REGEX REPLACE "\n$" "" block "${CMAKE_MATCH_1}")
string(REPLACE "\n" ";" lines "${block}")
foreach(line IN LISTS lines)
    string(REGEX REPLACE " *#.*" "" line "${line}")
    # Split first: the folder put in for the maker's may hold spaces.
    separate_arguments(command UNIX_COMMAND "${line}")
    list(TRANSFORM command REPLACE "/opt/maker/lib" "${MAKER_DIR}")
    if(line MATCHES "--preset maker -D")
        # For the machine and the sanitizers the library was built for.
        if(TOOLCHAIN)
            list(APPEND command -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN})
        else()
            list(APPEND command -DCMAKE_CXX_COMPILER=${COMPILER})
        endif()
        list(APPEND command -DDIO_SANITIZE=${SANITIZE})
        # What is tested is the recipe, not the optimiser: unoptimised and
        # without debug information, the programs build in half the time.
        list(APPEND command -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=)
    endif()
    message(STATUS "${command}")
    execute_process(COMMAND ${command} WORKING_DIRECTORY "${source}" OUTPUT_QUIET
                    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
set(build "${source}/build/maker")
if(NOT EXISTS "${build}/CMakeCache.txt")
    message(FATAL_ERROR "the manual's commands did not build in build/maker:\n${block}")
endif()
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
# The programs and, on Linux, their documentation; no board library.
file(GLOB_RECURSE installed RELATIVE "${WORK_DIR}/prefix" "${WORK_DIR}/prefix/*")
list(FILTER installed EXCLUDE REGEX "^share/(man|doc|lintian)/")
set(programs bin/dio-check bin/dio-exerciser bin/dio-get bin/dio-map bin/dio-panel bin/dio-set)
list(TRANSFORM programs APPEND "${EXE_SUFFIX}")
if(NOT installed STREQUAL "${programs}")
    message(FATAL_ERROR "installed other than the programs: ${installed}")
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
    # dio-map and dio-set beside it, on the same library, see every input
    # inverted; the folders' names may hold "dio-exerciser" too.
    get_filename_component(folder "${program}" DIRECTORY)
    set(map "${folder}/dio-map${EXE_SUFFIX}")
    dio_expect_map("${map}" 1 "DI 0: !DO 0  # inverted\nDI 1: !DO 1  # inverted\n"
                   --outputs 3 --inputs 3)
    dio_run("${folder}/dio-set${EXE_SUFFIX}" ARGS --read --for 0 80)
    dio_expect("dio-set on the maker's library" 0 "do:80,di:ffffff7f\n")
endforeach()
