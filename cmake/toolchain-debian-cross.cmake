# Cross-building for a Debian architecture with Debian's multiarch packages, no sysroot: the
# target's headers and libraries are the ":<arch>" development packages installed beside this
# machine's own (/usr/include, /usr/lib/<triplet>), the compiler is crossbuild-essential's
# <triplet>-g++, and moc, rcc and lrelease are this machine's (Qt's CMake files name them by
# their architecture-independent path /usr/lib/qt5/bin).
#
# Included by toolchain-<arch>.cmake, which sets TESSIVO_DEBIAN_ARCH, TESSIVO_GNU_TRIPLET and
# CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${TESSIVO_GNU_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${TESSIVO_GNU_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${TESSIVO_GNU_TRIPLET})

# pkg-config reads only the target's .pc files.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${TESSIVO_GNU_TRIPLET}/pkgconfig:/usr/share/pkgconfig)
unset(ENV{PKG_CONFIG_PATH})
unset(ENV{PKG_CONFIG_SYSROOT_DIR})

# Programs are this machine's; libraries, headers and CMake packages the target's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_ROOT_PATH /)
