# Cross build of a native Windows zarvelin.exe with Debian's mingw-w64
# (package g++-mingw-w64-x86-64). The posix thread model's compilers, because
# GoogleTest, built for the Windows run of the unit tests, needs std::mutex,
# which the win32 model's library lacks. Everything is linked statically
# (winpthread included), so the executable runs on a bare Windows (or Wine)
# with nothing beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZARVELIN_MINGW_TRIPLET x86_64-w64-mingw32)
find_program(CMAKE_CXX_COMPILER NAMES ${ZARVELIN_MINGW_TRIPLET}-g++-posix REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${ZARVELIN_MINGW_TRIPLET}-gcc-posix REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${ZARVELIN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The executable lands at the top of the build directory: build-win/zarvelin.exe.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
