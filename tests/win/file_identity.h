// What a file is beyond its content, as the tests of file replacement check
// it: attributes, security in its text form, creation time, folder listing.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace hk4test {

DWORD Attributes(const std::string& path);

// Owner, group and permissions as security descriptor text; empty when they
// cannot be read.
std::string SecurityText(const std::string& path);
// Sets owner, group and permissions from descriptor text; "CU" names the
// current account.
bool SetSecurityText(const std::string& path, const std::string& text);

// The creation time in 100 ns units; 0 when it cannot be read.
unsigned long long CreationTime(const std::string& path);
bool SetCreationTime(const std::string& path, unsigned long long time);

// The names in a folder, "." and ".." left out, sorted.
std::vector<std::string> NamesIn(const std::string& dir);

}  // namespace hk4test
