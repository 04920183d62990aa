set(target_processor ppc64le)
set(target_triple powerpc64le-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/linux-gnu-cross.cmake)
