# 32-bit x86 (Debian's i386).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(triplet i686-linux-gnu)
set(qemu qemu-i386)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu.cmake)
