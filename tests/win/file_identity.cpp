#include "file_identity.h"

#include <sddl.h>

#include <algorithm>

namespace hk4test {

namespace {

constexpr SECURITY_INFORMATION kOwnerGroupDacl =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

std::string CurrentUserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "";
    BYTE buffer[256];
    DWORD size = 0;
    std::string text;
    if (GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size)) {
        char* sid = nullptr;
        if (ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
            text = sid;
            LocalFree(sid);
        }
    }
    CloseHandle(token);
    return text;
}

}  // namespace

DWORD Attributes(const std::string& path) {
    return GetFileAttributesA(path.c_str());
}

std::string SecurityText(const std::string& path) {
    BYTE descriptor[4096];
    DWORD size = 0;
    if (!GetFileSecurityA(path.c_str(), kOwnerGroupDacl, descriptor, sizeof descriptor, &size))
        return "";
    char* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, SDDL_REVISION_1,
                                                              kOwnerGroupDacl, &text, nullptr))
        return "";
    std::string out = text;
    LocalFree(text);
    return out;
}

bool SetSecurityText(const std::string& path, const std::string& text) {
    std::string resolved = text;
    const std::string user = CurrentUserSid();
    for (std::size_t at = resolved.find(";CU)"); at != std::string::npos;
         at = resolved.find(";CU)", at))
        resolved.replace(at + 1, 2, user);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(resolved.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr))
        return false;
    SECURITY_INFORMATION what = DACL_SECURITY_INFORMATION;
    if (resolved.find("O:") != std::string::npos) what |= OWNER_SECURITY_INFORMATION;
    if (resolved.find("G:") != std::string::npos) what |= GROUP_SECURITY_INFORMATION;
    const bool ok = SetFileSecurityA(path.c_str(), what, descriptor) != 0;
    LocalFree(descriptor);
    return ok;
}

unsigned long long CreationTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<unsigned long long>(data.ftCreationTime.dwHighDateTime) << 32) |
           data.ftCreationTime.dwLowDateTime;
}

bool SetCreationTime(const std::string& path, unsigned long long time) {
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME created = {static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    const bool ok = SetFileTime(file, &created, nullptr, nullptr) != 0;
    CloseHandle(file);
    return ok;
}

std::vector<std::string> NamesIn(const std::string& dir) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = data.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace hk4test
