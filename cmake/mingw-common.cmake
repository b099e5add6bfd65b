set(CMAKE_C_COMPILER ${QM_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QM_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QM_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QM_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The programs must run on a bare Windows: no libgcc, libstdc++ or
# winpthread DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
