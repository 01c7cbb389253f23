# 64-bit IBM Z, big-endian (Debian's s390x).
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(triplet s390x-linux-gnu)
set(qemu qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu.cmake)
