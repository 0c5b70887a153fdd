# libmodbus for Vornel.dll, as the imported target dio_libmodbus.
#
# MinGW-w64: built from Debian's own source package, the very version of
# libmodbus5 that Linux builds use (the security suite's carries fixes the
# plain release lacks), once per build tree: a rebuild fetches nothing. The
# source lists come from an apt configuration of the build's own, so the
# system's sources stay as they were.
#
# Visual Studio: a libmodbus built for it, in LIBMODBUS_DIR (include/,
# lib/modbus.lib, bin/modbus.dll), as libmodbus's own project builds it.

set(LIBMODBUS_DIR "" CACHE PATH "Visual Studio: folder of a libmodbus built for it")

function(dio_libmodbus_target implib dll include)
    add_library(dio_libmodbus SHARED IMPORTED GLOBAL)
    set_target_properties(dio_libmodbus PROPERTIES
        IMPORTED_IMPLIB "${implib}" IMPORTED_LOCATION "${dll}"
        INTERFACE_INCLUDE_DIRECTORIES "${include}")
endfunction()

if(MSVC)
    find_path(_modbus_include modbus.h PATHS "${LIBMODBUS_DIR}/include"
              PATH_SUFFIXES modbus NO_DEFAULT_PATH)
    find_library(_modbus_lib modbus PATHS "${LIBMODBUS_DIR}/lib" NO_DEFAULT_PATH)
    if(NOT _modbus_include OR NOT _modbus_lib OR NOT EXISTS "${LIBMODBUS_DIR}/bin/modbus.dll")
        message(FATAL_ERROR "Modbus boards need a libmodbus built for Visual Studio: set "
            "LIBMODBUS_DIR to the folder that holds its include/modbus.h, lib/modbus.lib and "
            "bin/modbus.dll, or configure with -DDIO_MODBUS=OFF.")
    endif()
    dio_libmodbus_target("${_modbus_lib}" "${LIBMODBUS_DIR}/bin/modbus.dll" "${_modbus_include}")
    if(EXISTS "${LIBMODBUS_DIR}/COPYING.LESSER")
        set(DIO_LIBMODBUS_LICENSE "${LIBMODBUS_DIR}/COPYING.LESSER")
    endif()
    return()
endif()

set(_dir "${PROJECT_BINARY_DIR}/libmodbus")
set(_prefix "${_dir}/prefix")

function(dio_libmodbus_fail what)
    message(FATAL_ERROR "Vornel.dll's Modbus boards need libmodbus built for MinGW-w64 from "
        "Debian's source package (libmodbus ${_version}): ${what}. Configure with "
        "-DDIO_MODBUS=OFF to build Vornel.dll without Modbus boards.")
endfunction()

# dio_libmodbus_run(<what failed> <command>...): in ${_work}, its output in build.log.
function(dio_libmodbus_run what)
    execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${_work}" RESULT_VARIABLE status
                    OUTPUT_VARIABLE out ERROR_VARIABLE out)
    file(APPEND "${_dir}/build.log" "$ ${ARGN}\n${out}\n")
    if(NOT status EQUAL 0)
        string(LENGTH "${out}" n)
        set(from 0)
        if(n GREATER 2000)
            math(EXPR from "${n} - 2000")
        endif()
        string(SUBSTRING "${out}" ${from} -1 tail)
        dio_libmodbus_fail("${what} (${_dir}/build.log):\n${tail}")
    endif()
endfunction()

# The version Linux uses: libmodbus5 as installed (once per architecture
# installed, always the same version), else as apt would install it.
execute_process(COMMAND dpkg-query -W -f=\${Version}\n libmodbus5
                OUTPUT_VARIABLE _version ERROR_QUIET)
string(REGEX REPLACE "\n.*" "" _version "${_version}")
if(NOT _version)
    execute_process(COMMAND apt-cache policy libmodbus5 OUTPUT_VARIABLE _policy ERROR_QUIET)
    string(REGEX MATCH "Candidate: ([^\n]+)" _ "${_policy}")
    set(_version "${CMAKE_MATCH_1}")
endif()
if(NOT _version OR _version STREQUAL "(none)")
    set(_version "of libmodbus5")
    dio_libmodbus_fail("no version of libmodbus5 is known here (apt-get update, then "
                       "apt-get install libmodbus-dev)")
endif()
string(REGEX REPLACE "-[^-]+$" "" _upstream "${_version}")

if(NOT EXISTS "${_prefix}/built-from-${_version}")
    message(STATUS "Building libmodbus ${_version} for MinGW-w64 from Debian's source package")
    foreach(_tool apt-get:apt dpkg-source:dpkg-dev autoreconf:autoconf aclocal:automake
                  libtoolize:libtool make:make)
        string(REPLACE ":" ";" _tool "${_tool}")
        list(GET _tool 0 _program)
        list(GET _tool 1 _package)
        find_program(_found_${_program} ${_program})
        if(NOT _found_${_program})
            dio_libmodbus_fail("${_program} is missing (apt-get install ${_package})")
        endif()
    endforeach()
    file(REMOVE_RECURSE "${_dir}")
    file(MAKE_DIRECTORY "${_dir}/apt/lists/partial" "${_dir}/apt/cache/archives/partial"
         "${_dir}/src")
    set(_keyring /usr/share/keyrings/debian-archive-keyring.gpg)
    file(WRITE "${_dir}/apt/sources.list"
        "deb-src [signed-by=${_keyring}] http://deb.debian.org/debian bookworm main\n"
        "deb-src [signed-by=${_keyring}] http://deb.debian.org/debian-security bookworm-security main\n")
    set(_apt apt-get -q -o "Dir::Etc::SourceList=${_dir}/apt/sources.list"
        -o Dir::Etc::SourceParts=/nonexistent -o "Dir::State::Lists=${_dir}/apt/lists"
        -o "Dir::Cache=${_dir}/apt/cache")
    execute_process(COMMAND id -u OUTPUT_VARIABLE _uid OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(_uid STREQUAL "0")
        list(APPEND _apt -o APT::Sandbox::User=root)
    endif()
    set(_work "${_dir}/src")
    dio_libmodbus_run("Debian's source lists for bookworm and bookworm-security could not be read"
                      ${_apt} update --error-on=any)
    dio_libmodbus_run("apt-get source libmodbus=${_version} failed"
                      ${_apt} source --only-source libmodbus=${_version})

    # The source must be the version Linux uses, and say so itself.
    set(_work "${_dir}/src/libmodbus-${_upstream}")
    file(STRINGS "${_work}/debian/changelog" _first LIMIT_COUNT 1)
    if(NOT _first MATCHES "^libmodbus \\(([^)]+)\\)" OR NOT CMAKE_MATCH_1 STREQUAL _version)
        dio_libmodbus_fail("the source is '${_first}', not ${_version} as on Linux")
    endif()
    # libtool's install cannot copy into a path with a space in it, so a
    # build tree under such a path installs into a folder of its own under
    # the temporary folder first, and the result is copied from there.
    set(_install "${_prefix}")
    if(_prefix MATCHES " ")
        set(_tmp "$ENV{TMPDIR}")
        if(NOT _tmp OR _tmp MATCHES " ")
            set(_tmp /tmp)
        endif()
        string(MD5 _hash "${_prefix}")
        set(_install "${_tmp}/dio-libmodbus-${_hash}")
        file(REMOVE_RECURSE "${_install}")
    endif()
    dio_libmodbus_run("autoreconf failed" autoreconf -fi)
    dio_libmodbus_run("configure failed" ./configure --host=x86_64-w64-mingw32
        --prefix=${_install} --disable-static --enable-shared --without-documentation
        --disable-tests "CC=${CMAKE_C_COMPILER}")
    dio_libmodbus_run("make failed" make -j2)
    dio_libmodbus_run("make install failed" make install-strip)
    if(NOT _install STREQUAL _prefix)
        file(COPY "${_install}/" DESTINATION "${_prefix}")
        file(REMOVE_RECURSE "${_install}")
    endif()
    file(STRINGS "${_prefix}/include/modbus/modbus-version.h" _built
         REGEX "#define LIBMODBUS_VERSION_STRING")
    if(NOT _built MATCHES "\"${_upstream}\"")
        dio_libmodbus_fail("the library built says ${_built}, not ${_upstream}")
    endif()
    file(COPY "${_work}/COPYING.LESSER" DESTINATION "${_prefix}")
    file(WRITE "${_prefix}/built-from-${_version}" "${_version}\n")
endif()

dio_libmodbus_target("${_prefix}/lib/libmodbus.dll.a" "${_prefix}/bin/libmodbus-5.dll"
                     "${_prefix}/include/modbus")
set(DIO_LIBMODBUS_LICENSE "${_prefix}/COPYING.LESSER")
