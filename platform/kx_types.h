// Windows-style scalar types used across the product's interfaces.
// Results are integers: 0 is false or failure, 1 is true or success.
#pragma once

#include <cstdint>

typedef int BOOL;
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

typedef std::uint32_t DWORD;
typedef std::uint16_t WORD;
typedef std::uint8_t BYTE;
typedef long LONG;
typedef unsigned long ULONG;
