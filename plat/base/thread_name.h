#pragma once
// Names the calling thread as `top -H`, `ps -L` and the programs' own measurements show it.

#include <pthread.h>

namespace plat {

// The kernel keeps 15 bytes of it; a longer name is cut there.
inline void nameThisThread(const char* name)
{
    char shortName[16] = {};
    for (int i = 0; i < 15 && name[i] != '\0'; ++i) shortName[i] = name[i];
    pthread_setname_np(pthread_self(), shortName);
}

}  // namespace plat
