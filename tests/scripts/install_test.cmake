# Installs the build (cmake --install, then the cpack package: Debian
# package on Linux, zip on Windows) into scratch folders and runs each
# installed program there, with nothing in the environment to help it. On
# Linux no installed binary may search a relative folder for libraries, and
# a C program builds against the installed board library.
#
#   -DBUILD_DIR=... -DCONFIG=... -DPACKAGE=DEB|ZIP -DLIBDIR=... -DEXE_SUFFIX=...
#   plus those of run.cmake

include("${CMAKE_CURRENT_LIST_DIR}/run.cmake")
file(REMOVE_RECURSE "${WORK_DIR}")

function(expect_standalone program)
    if(NOT EXE_SUFFIX)
        # No run path into the build tree: it runs with the tree gone.
        execute_process(COMMAND readelf -d "${program}" OUTPUT_VARIABLE dynamic)
        string(FIND "${dynamic}" "${BUILD_DIR}" at)
        if(NOT at EQUAL -1)
            message(FATAL_ERROR "${program} looks for libraries in the build tree:\n${dynamic}")
        endif()
    endif()
    dio_expect_runs("${program}" ${SECONDS_FOR_A_LINE})
endfunction()

# The report checker, the mapper and the tools by hand come along and run
# on their own too; those that drive the board find the stand-in as the
# exerciser does.
function(expect_companions bin)
    foreach(tool dio-check dio-panel)
        execute_process(COMMAND ${EMULATOR} "${bin}/${tool}${EXE_SUFFIX}" --version
                        RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out TIMEOUT 20)
        if(NOT status EQUAL 0 OR NOT out MATCHES "^${tool} ")
            message(FATAL_ERROR "${bin}/${tool} --version: status ${status}, output ${out}")
        endif()
    endforeach()
    dio_expect_map("${bin}/dio-map${EXE_SUFFIX}" 0 "DI 0: DO 0\nDI 1: DO 1\n" --outputs 3 --inputs 3)
    dio_run("${bin}/dio-set${EXE_SUFFIX}" ARGS --read --for 0 80)
    dio_expect("${bin}/dio-set --read --for 0 80" 0 "do:80,di:80\n")
    dio_run("${bin}/dio-get${EXE_SUFFIX}")
    dio_expect("${bin}/dio-get" 0 "di:0\n")
endfunction()

execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --config "${CONFIG}"
                        --prefix "${WORK_DIR}/prefix"
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
expect_standalone("${WORK_DIR}/prefix/bin/dio-exerciser${EXE_SUFFIX}")
if(NOT EXE_SUFFIX)
    dio_expect_safe_run_paths("${WORK_DIR}/prefix")
endif()
expect_companions("${WORK_DIR}/prefix/bin")
# A program of one's own against the installed library, built both ways
# the install offers, with nothing but the prefix to go on; it drives DO 7
# of the simulated board and reads it back.
function(expect_builds_against prefix)
    set(dir "${WORK_DIR}/own")
    file(REMOVE_RECURSE "${dir}")
    file(WRITE "${dir}/hold.c" [=[
#include <stdio.h>
#include <vornel/board.h>

int main(void)
{
    if (Kestor_OpenDevice(1) < 0 || Kestor_DOAll(1, 0x80) < 0)
        return 1;
    printf("di:%x\n", (unsigned)Kestor_DIAll(1));
    return Kestor_DOAll(1, 0) < 0;
}
]=])
    file(WRITE "${dir}/CMakeLists.txt" [=[
cmake_minimum_required(VERSION 3.25)
project(hold C)
find_package(Vornel REQUIRED)
add_executable(hold hold.c)
target_link_libraries(hold PRIVATE Vornel::Vornel)
]=])
    execute_process(COMMAND pkg-config --cflags --libs vornel
                    RESULT_VARIABLE status OUTPUT_VARIABLE flags ERROR_VARIABLE flags
                    OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "pkg-config --cflags --libs vornel: ${flags}")
    endif()
    separate_arguments(flags UNIX_COMMAND "${flags}")
    execute_process(COMMAND cc -o "${dir}/hold-pc" "${dir}/hold.c" ${flags}
                    COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND ${CMAKE_COMMAND} -S "${dir}" -B "${dir}/build"
                            "-DCMAKE_PREFIX_PATH=${prefix}" OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
    execute_process(COMMAND ${CMAKE_COMMAND} --build "${dir}/build" OUTPUT_QUIET
                    COMMAND_ERROR_IS_FATAL ANY)
    # A sanitized library brings its runtime to a program that has none.
    set(ENV{ASAN_OPTIONS} verify_asan_link_order=0)
    foreach(program "${dir}/hold-pc" "${dir}/build/hold")
        execute_process(COMMAND "${program}" RESULT_VARIABLE status OUTPUT_VARIABLE out
                        ERROR_VARIABLE out TIMEOUT 20)
        if(NOT status EQUAL 0 OR NOT out STREQUAL "di:80\n")
            message(FATAL_ERROR "${program}: status ${status}, output '${out}'")
        endif()
    endforeach()
endfunction()
if(NOT EXE_SUFFIX AND NOT EMULATOR)
    set(ENV{PKG_CONFIG_PATH} "${WORK_DIR}/prefix/${LIBDIR}/pkgconfig")
    expect_builds_against("${WORK_DIR}/prefix")
endif()

# What only the Debian package needs stays out of a user's prefix.
if(EXISTS "${WORK_DIR}/prefix/share/lintian")
    message(FATAL_ERROR "cmake --install put share/lintian under the prefix")
endif()

execute_process(COMMAND cpack -G ${PACKAGE} -C "${CONFIG}" -B "${WORK_DIR}/package"
                WORKING_DIRECTORY "${BUILD_DIR}" OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
if(PACKAGE STREQUAL "DEB")
    file(GLOB package "${WORK_DIR}/package/*.deb")
    execute_process(COMMAND dpkg-deb -x "${package}" "${WORK_DIR}/root" COMMAND_ERROR_IS_FATAL ANY)
    if(NOT EXISTS "${WORK_DIR}/root/usr/share/lintian/overrides/dio-exerciser")
        message(FATAL_ERROR "the package lacks its lintian override")
    endif()
    expect_standalone("${WORK_DIR}/root/usr/bin/dio-exerciser")
    dio_expect_safe_run_paths("${WORK_DIR}/root")
    expect_companions("${WORK_DIR}/root/usr/bin")
else()
    file(GLOB package "${WORK_DIR}/package/*.zip")
    file(ARCHIVE_EXTRACT INPUT "${package}" DESTINATION "${WORK_DIR}/root")
    file(GLOB_RECURSE program "${WORK_DIR}/root/*/dio-exerciser${EXE_SUFFIX}")
    file(GLOB_RECURSE contents RELATIVE "${WORK_DIR}/root" "${WORK_DIR}/root/*")
    message(STATUS "zip holds: ${contents}")
    # The project's licence; libmodbus's DLL beside Vornel.dll, with its licence.
    set(files share/doc/dio-exerciser/LICENSE)
    if(MODBUS)
        list(APPEND files bin/libmodbus-5.dll share/doc/dio-exerciser/libmodbus/COPYING.LESSER)
    endif()
    foreach(file IN LISTS files)
        if(NOT contents MATCHES "/${file}")
            message(FATAL_ERROR "the zip lacks ${file}")
        endif()
    endforeach()
    expect_standalone("${program}")
    get_filename_component(bin "${program}" DIRECTORY)
    expect_companions("${bin}")
endif()
