// Native paths: how the product's code page 932 path texts become the paths the
// system's file calls take, the path separator, and the current directory.
#pragma once

#include <filesystem>
#include <string>

namespace kx {

// The separator between a directory and a name in this system's paths.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// The path `strCp932` names, for the standard library's file calls.
std::filesystem::path ToFileSystemPath(const std::string& strCp932);
// The path `strCp932` names, as the narrow text the system's own file calls take
// (UTF-8 here, the text unchanged where the system's code page is 932).
std::string ToNativePath(const std::string& strCp932);
// The process's current directory in code page 932; "." when it cannot be determined.
std::string GetCurrentDirectoryPath();

}  // namespace kx
