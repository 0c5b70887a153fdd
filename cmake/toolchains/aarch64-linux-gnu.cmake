# Cross-builds for 64-bit ARM Linux (arm64: Raspberry Pi 3, 4 and 5 on a
# 64-bit OS) with Debian's cross compiler and the multiarch :arm64
# development packages, and runs what it builds under qemu's user-mode
# emulation, so that no binfmt set-up is needed:
#   dpkg --add-architecture arm64 && apt-get update
#   apt-get install g++-aarch64-linux-gnu qemu-user libmodbus-dev:arm64 \
#       libgtest-dev:arm64
# comedilib cannot be installed for two machines at once, so the arm64
# preset builds without comedi boards.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(_triplet aarch64-linux-gnu)
set(CMAKE_C_COMPILER ${_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${_triplet}-g++)
# The arm64 libraries live beside the host's, in /usr/lib/aarch64-linux-gnu.
set(CMAKE_LIBRARY_ARCHITECTURE ${_triplet})
# Debian 12 has no aarch64-linux-gnu-pkg-config: point pkg-config at the
# arm64 .pc files.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${_triplet}/pkgconfig:/usr/share/pkgconfig")

# The emulator runs on the multiarch arm64 libraries (libc6:arm64,
# libstdc++6:arm64), as a Pi would: pairing the cross toolchain's loader
# with them (qemu-aarch64 -L /usr/aarch64-linux-gnu) makes any fork() spin.
find_program(DIO_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${DIO_QEMU_AARCH64})
