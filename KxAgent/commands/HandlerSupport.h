// Small routines every built-in command handler shares.
#pragma once

#include <cstddef>
#include <string>

#include "platform/text_encoding.h"

class CWriter;
class CKxAgentCommandArgument;

// The source of the information entry each handler writes before it runs.
extern const char* const kCommandExecute;

// The value of a bound argument; "" when the list has no such name.
const char* ArgumentText(CKxAgentCommandArgument& argument, const char* lpName);

// A numeric argument read as strtoul reads it: blanks skipped, digits up to the
// first non-digit, no digits gives 0; a negative text wraps to a large value.
unsigned long ParseNumber(const char* lpText);

// Formats one line (at most 1023 bytes) and writes it with WriteLine.
void WriteFormattedLine(CWriter& writer, const char* lpFormat, ...) __attribute__((format(printf, 2, 3)));

// Code page 932 helpers the handlers use to cut columns.
using kx::CutCp932;
using kx::IsCp932LeadByte;
// Every text from the system goes through this before it is written on a line.
using kx::MaskControlCharacters;
