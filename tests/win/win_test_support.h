// Helpers shared by the Windows tests: paths next to the test program and a
// private copy of the plug-in under a chosen file name.
#pragma once

#include <windows.h>

#include <string>

namespace hk4test {

// The folder the test program runs from (the build folder).
std::string ExeDir();

// Copies the built plug-in to `name` in a fresh temporary folder and returns
// the full path of the copy.
std::string CopyPlugin(const std::string& name);

// A fresh, empty temporary folder.
std::string TempDir();

std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::string& bytes);

}  // namespace hk4test
