// Where the running program lives; programs find their installation from it.
#pragma once

#include <string>

namespace kx {

// The full path of the running program's file, symbolic links resolved;
// empty when the system cannot tell.
std::string GetProgramPath();
// The directory of the running program, ending in the path separator;
// empty when the system cannot tell.
std::string GetProgramDirectory();

}  // namespace kx
