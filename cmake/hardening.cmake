# The hardening Debian builds its own packages with (dpkg-buildflags with
# hardening=+all): stack protector, fortified source, full RELRO with
# immediate binding, and position-independent executables; and stack clash
# protection, which newer Debian releases add.
option(DIO_HARDEN "Build Linux binaries with Debian's hardening flags" ON)
if(NOT DIO_HARDEN OR NOT CMAKE_SYSTEM_NAME STREQUAL "Linux"
   OR NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    return()
endif()

include(CheckPIESupported)
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_compile_options(-fstack-protector-strong -fstack-clash-protection
                    -Wformat -Werror=format-security)
# Fortified functions need the optimiser, and the sanitizers check the
# same calls their own way.
if(NOT DIO_SANITIZE AND NOT DIO_FUZZ)
    add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
endif()
add_link_options(LINKER:-z,relro LINKER:-z,now)
