set(CMAKE_C_COMPILER ${QG_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QG_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QG_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QG_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Fully static: no mingw runtime DLL has to travel with the programs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
