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
    explicit TempFile(std::wstring path) : path_(std::move(path)) {}
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (!path_.empty()) DeleteFileW(path_.c_str());
    }
    const std::wstring& Path() const { return path_; }
    void Release() { path_.clear(); }

  private:
    std::wstring path_;
};

// Creates a new, empty file named after the target; empty on failure.
std::wstring CreateTempBeside(const std::wstring& target) {
    const std::wstring stem = target + L".hk4-" + std::to_wstring(GetCurrentProcessId()) + L"-";
    for (unsigned n = 0; n < 100; ++n) {
        // Not const: returned by move, so that no allocation can fail
        // between creating the file and handing it to its owner.
        std::wstring path = stem + std::to_wstring(n) + L".tmp";
        FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.Valid()) return path;
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS)
            return std::wstring();
    }
    return std::wstring();
}

// Forces the written content to disk before it takes the target's place;
// fails when there is no content, which never stands in for a document.
bool FlushNonEmpty(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size;
    return file.Valid() && GetFileSizeEx(file.Get(), &size) && size.QuadPart > 0 &&
           FlushFileBuffers(file.Get());
}

}  // namespace

bool ReplaceFileContent(const std::wstring& target,
                        const std::function<bool(const std::wstring& tempPath)>& write) {
    // Windows refuses to rename over a read-only file, but not every
    // implementation of these calls does: refuse here, the same everywhere.
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return false;
    TempFile temp(CreateTempBeside(target));
    if (temp.Path().empty()) return false;
    if (!write(temp.Path()) || !FlushNonEmpty(temp.Path())) return false;
    if (!MoveFileExW(temp.Path().c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return false;
    temp.Release();
    return true;
}

}  // namespace hk4
