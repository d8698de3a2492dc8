#include "win_test_support.h"

#include <cstdio>

namespace hk4test {

std::string ExeDir() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of("\\/"));
}

std::string TempDir() {
    static unsigned counter = 0;
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    // Process ids repeat from run to run: skip folders an earlier run left.
    for (;;) {
        std::string dir = std::string(base) + "hk4test-" + std::to_string(GetCurrentProcessId()) +
                          "-" + std::to_string(++counter);
        if (CreateDirectoryA(dir.c_str(), nullptr) || GetLastError() != ERROR_ALREADY_EXISTS)
            return dir;
    }
}

std::string CopyPlugin(const std::string& name) {
    const std::string target = TempDir() + "\\" + name;
    CopyFileA((ExeDir() + "\\" HK4_DLL_PATH).c_str(), target.c_str(), FALSE);
    return target;
}

std::string ReadFile(const std::string& path) {
    std::string bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
        std::fclose(f);
    }
    return bytes;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace hk4test
