// POSIX handles in Owned (platform/owned.h): a descriptor, and a directory
// stream (which owns its descriptor). For *_posix.cpp files only.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include "platform/owned.h"

inline void CloseDescriptor(int fd) { ::close(fd); }
using ScopedFd = Owned<int, -1, CloseDescriptor>;

inline void CloseDirectory(DIR* d) { ::closedir(d); }
using ScopedDir = Owned<DIR*, static_cast<DIR*>(nullptr), CloseDirectory>;
