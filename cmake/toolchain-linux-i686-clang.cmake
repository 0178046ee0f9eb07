# Native 32-bit build with clang, for the libFuzzer targets (the fuzz preset).
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-linux-i686.cmake)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
