// Where an installed plug-in's file lives: the plug-in directory joined with the
// file name from the configuration. Shared by the agent and the configuration tool.
#pragma once

#include <string>

// TRUE when lpFileName is a plain file name: not empty, not "." or "..", and
// without a path separator ('/' or '\\') or a drive colon. Only such a name is
// looked for in the plug-in directory, so that the configuration cannot point the
// agent at a library elsewhere.
bool IsPluginFileName(const char* lpFileName);
// lpPluginDir (ending in a separator) followed by lpFileName; empty when
// lpFileName is not a plain file name.
std::string MakePluginFilePath(const char* lpPluginDir, const char* lpFileName);
