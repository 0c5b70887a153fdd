# Runs cross-built Windows programs under wine, for the tests: no display,
# a prefix of its own in the build tree, loader errors only, and no crash
# debugger, so that a crash is a failure rather than a backtrace.
find_program(DIO_WINE wine REQUIRED)
find_program(DIO_WINESERVER wineserver REQUIRED)
find_program(DIO_ENV env REQUIRED)

set(DIO_WINE_ENV
    -u DISPLAY -u WAYLAND_DISPLAY
    "WINEPREFIX=${PROJECT_BINARY_DIR}/wineprefix"
    "WINEDEBUG=-all,err+module"
    "WINEDLLOVERRIDES=winedbg.exe,mscoree,mshtml=d")
set(CMAKE_CROSSCOMPILING_EMULATOR ${DIO_ENV} ${DIO_WINE_ENV} ${DIO_WINE})
