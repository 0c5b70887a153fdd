# cpack -G DEB: the program and the stand-in board library, installed as
# by cmake --install.
set(CPACK_PACKAGE_NAME dio-exerciser)
set(CPACK_PACKAGE_VENDOR "dio-exerciser developers")
set(CPACK_PACKAGE_CONTACT "dio-exerciser developers <dio-exerciser@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
include(CPack)
