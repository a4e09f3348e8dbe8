# 64-bit ARM validators (Debian arm64). scripts/package --arch arm64 uses it in the arm64 build
# root; see toolchain-debian-cross.cmake.
set(TESSIVO_DEBIAN_ARCH arm64)
set(TESSIVO_GNU_TRIPLET aarch64-linux-gnu)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-debian-cross.cmake)
