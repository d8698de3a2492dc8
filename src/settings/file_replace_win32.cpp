#include "settings/file_replace_win32.h"

#include <windows.h>

#include <utility>

namespace hk4 {

namespace {

class FileHandle {
  public:
    explicit FileHandle(HANDLE h) : h_(h) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    HANDLE Get() const { return h_; }
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }

  private:
    HANDLE h_;
};

// Deletes the temporary file unless it has been renamed into place.
class TempFile {
  public:
    explicit TempFile(std::string path) : path_(std::move(path)) {}
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (!path_.empty()) DeleteFileA(path_.c_str());
    }
    const std::string& Path() const { return path_; }
    void Release() { path_.clear(); }

  private:
    std::string path_;
};

// Creates a new, empty file named after the target; empty on failure.
std::string CreateTempBeside(const std::string& target) {
    const std::string stem = target + ".hk4-" + std::to_string(GetCurrentProcessId()) + "-";
    for (unsigned n = 0; n < 100; ++n) {
        const std::string path = stem + std::to_string(n) + ".tmp";
        FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.Valid()) return path;
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return std::string();
    }
    return std::string();
}

// Forces the written content to disk before it takes the target's place.
bool Flush(const std::string& path) {
    FileHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.Valid() && FlushFileBuffers(file.Get());
}

}  // namespace

bool ReplaceFileContent(const std::string& target,
                        const std::function<bool(const std::string& tempPath)>& write) {
    const DWORD attributes = GetFileAttributesA(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return false;
    TempFile temp(CreateTempBeside(target));
    if (temp.Path().empty()) return false;
    if (!write(temp.Path()) || !Flush(temp.Path())) return false;
    if (!MoveFileExA(temp.Path().c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return false;
    temp.Release();
    return true;
}

}  // namespace hk4
