set(target_processor riscv64)
set(target_triple riscv64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
