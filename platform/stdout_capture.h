// What a piece of code writes on the process's standard output, taken instead
// of shown: for a library that reports only there while a window program
// needs the text for a message box.
#pragma once

#include <functional>
#include <string>

namespace kx {

// Runs fnWork with standard output (the C streams and descriptor 1) sent to a
// temporary file, puts the output back as it was and returns what was
// written. When the output cannot be redirected fnWork still runs and "" is
// returned. Not for use by two threads at once.
std::string CaptureStandardOutput(const std::function<void()>& fnWork);

}  // namespace kx
