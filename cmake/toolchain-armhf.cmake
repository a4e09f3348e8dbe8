# 32-bit ARM validators of the older fleets (Debian armhf: ARMv7, hard-float). scripts/package
# --arch armhf uses it in the armhf build root; see toolchain-debian-cross.cmake.
set(TESSIVO_DEBIAN_ARCH armhf)
set(TESSIVO_GNU_TRIPLET arm-linux-gnueabihf)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-debian-cross.cmake)
# GCC notes on every std::initializer_list<QJsonValue> that its ARM calling convention changed in
# GCC 7.1; the whole program is built by one compiler, so the note concerns nothing here.
set(CMAKE_CXX_FLAGS_INIT -Wno-psabi)
