# Cross-compiling for Linux on target_processor with Debian's g++-<triple>
# (apt-get install g++-<triple>), set by the toolchain file that includes this
# one. Linked statically, so that qemu-user runs the programs without the
# target's C library installed.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${target_processor})
set(CMAKE_CXX_COMPILER ${target_triple}-g++)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
