#pragma once

// quorvel-find's console on Windows: what POSIX gives a program and Windows does not.

#include <io.h>

// Replaces the arguments, which Windows hands over in the ANSI code page and so may lose
// characters of a file's name, by the UTF-8 form of its UTF-16 command line.
void useUtf8Arguments(int &argc, char **&argv);

// Holds the place of a missing standard handle with NUL, as a closed descriptor is held on
// POSIX; puts the standard streams in binary mode (no CR added before LF, no end at Ctrl+Z,
// the same bytes as on Linux); ends at once on Ctrl+C, Ctrl+Break or a closed console.
void holdClosedStandardDescriptors();

// Windows limits the handles a process holds only by memory.
inline void raiseOpenFileLimit() {}
