# 64-bit RISC-V (Debian's riscv64).
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(triplet riscv64-linux-gnu)
set(qemu qemu-riscv64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu.cmake)
