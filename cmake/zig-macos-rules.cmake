# Read by CMake after its Apple platform rules (CMAKE_USER_MAKE_RULES_OVERRIDE of zig-macos.cmake):
# Zig's linker knows no -v, which those rules pass it while probing the compiler.
set(CMAKE_C_VERBOSE_FLAG "-v")
set(CMAKE_CXX_VERBOSE_FLAG "-v")
