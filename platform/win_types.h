// The few Win32 types and constants that the portable code (frames, port-number parse, dialog
// logic) shares with the Windows build. On Windows they come from <windows.h>; the native build,
// which has no Windows headers, gets identical definitions here so the same sources compile and
// can be unit-tested on Linux.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <cstdint>

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef void* HANDLE;
typedef void* HICON;

#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define CB_ERR (-1)
#define ERROR_SUCCESS 0L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define NOPARITY 0
#define ONESTOPBIT 0
#endif
