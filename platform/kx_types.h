// Windows-style scalar types used across the product's interfaces.
// Results are integers: 0 is false or failure, 1 is true or success.
// On Windows they are the very types of <windows.h>, so the two headers can
// meet in one translation unit in either order.
#pragma once

#include <cstdint>

typedef int BOOL;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#ifdef _WIN32
typedef unsigned long DWORD;
typedef unsigned short WORD;
typedef unsigned char BYTE;
#else
typedef std::uint32_t DWORD;
typedef std::uint16_t WORD;
typedef std::uint8_t BYTE;
#endif
typedef long LONG;
typedef unsigned long ULONG;
