# Cross build for the 64-bit Arm controllers with Debian's cross compiler
# (g++-aarch64-linux-gnu). Libraries come from Debian's arm64 packages installed
# side by side with the amd64 ones through multiarch (dpkg --add-architecture
# arm64), so they live in /usr/lib/aarch64-linux-gnu and share /usr/include.
# scripts/arm.sh installs everything this file needs.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(AIKORVANE_TARGET_TRIPLET aarch64-linux-gnu)
set(CMAKE_LIBRARY_ARCHITECTURE ${AIKORVANE_TARGET_TRIPLET})

set(CMAKE_C_COMPILER ${AIKORVANE_TARGET_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${AIKORVANE_TARGET_TRIPLET}-g++)
# Binutils of the target: tests that inspect the built plug-in use these.
find_program(CMAKE_AR ${AIKORVANE_TARGET_TRIPLET}-ar REQUIRED)
find_program(CMAKE_RANLIB ${AIKORVANE_TARGET_TRIPLET}-ranlib REQUIRED)
find_program(CMAKE_NM ${AIKORVANE_TARGET_TRIPLET}-nm REQUIRED)
find_program(CMAKE_READELF ${AIKORVANE_TARGET_TRIPLET}-readelf REQUIRED)
find_program(CMAKE_OBJDUMP ${AIKORVANE_TARGET_TRIPLET}-objdump REQUIRED)
find_program(CMAKE_STRIP ${AIKORVANE_TARGET_TRIPLET}-strip REQUIRED)

# Multiarch layout: the target's libraries and package configurations sit in
# the host's own tree under the triplet directory, so the host root is searched
# for libraries and packages, and CMAKE_LIBRARY_ARCHITECTURE keeps the searches
# on the arm64 directories. Programs are the build machine's.
set(CMAKE_FIND_ROOT_PATH /usr/${AIKORVANE_TARGET_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# pkg-config (used by FindCURL) must read the arm64 .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${AIKORVANE_TARGET_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# Target programs (tests, test discovery, the simulator) run under qemu user-mode
# emulation; the arm64 runtime libraries installed through multiarch are found
# by the arm64 dynamic loader in their usual places.
find_program(AIKORVANE_QEMU qemu-aarch64 qemu-aarch64-static)
if(AIKORVANE_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${AIKORVANE_QEMU})
endif()
