# cpack: the programs, the stand-in board library, manual pages and
# copyright, installed as by cmake --install, with stripped binaries; a
# Debian package on Linux, a zip on Windows.
set(CPACK_PACKAGE_NAME dio-exerciser)
set(CPACK_PACKAGE_VENDOR "dio-exerciser developers")
set(CPACK_PACKAGE_CONTACT "dio-exerciser developers <dio-exerciser@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
string(JOIN "\n" CPACK_PACKAGE_DESCRIPTION
    "dio-exerciser drives all 32 digital outputs of an I/O board with an"
    "alternating pattern once a second and prints the pattern written and the"
    "32 inputs read back. dio-check reads that report and names the input"
    "lines that do not follow their outputs: stuck, inverted or intermittent."
    "It shows the lines live and can write them as a waveform. dio-map drives"
    "the board in a few writes and names, for each input, the output that"
    "drives it: straight, crossed, inverted, stuck or shorted. dio-set and"
    "dio-get drive chosen outputs and read the inputs by hand, from the shell"
    "or from a prompt. dio-panel serves a test panel to a browser: a switch"
    "per output, a lamp per input, a live trace and the wiring map drawn,"
    "behind a token."
    "A stand-in board library drives a simulated board, GPIO chips, Modbus"
    "TCP and RTU remote I/O modules, or data-acquisition cards through comedi.")
set(CPACK_STRIP_FILES ON)
if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME "${PROJECT_NAME}-${PROJECT_VERSION}-win64")
else()
    set(CPACK_GENERATOR DEB)
    # Everything cmake --install installs, and the package's own extras.
    set(CPACK_INSTALL_CMAKE_PROJECTS
        "${PROJECT_BINARY_DIR};${PROJECT_NAME};ALL;/"
        "${PROJECT_BINARY_DIR};${PROJECT_NAME};debian;/")
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# cpack takes the architecture from dpkg, which names the build machine's.
if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_PROCESSOR STREQUAL "aarch64")
    set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
endif()
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# Dependencies as dpkg-shlibdeps finds them in the binaries, with versions.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS
    "${CMAKE_INSTALL_PREFIX}/${DIO_INSTALL_BOARDLIBDIR}")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
