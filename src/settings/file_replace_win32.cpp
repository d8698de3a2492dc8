#include "settings/file_replace_win32.h"

#include <windows.h>

#include <utility>
#include <vector>

#include "settings/file_replace_names.h"

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

// Deletes a file of ours unless it has been put to use.
class OwnFile {
  public:
    explicit OwnFile(std::wstring path) : path_(std::move(path)) {}
    OwnFile(const OwnFile&) = delete;
    OwnFile& operator=(const OwnFile&) = delete;
    ~OwnFile() {
        if (!path_.empty()) DeleteFileW(path_.c_str());
    }
    const std::wstring& Path() const { return path_; }
    const wchar_t* c_str() const { return path_.c_str(); }
    void Release() { path_.clear(); }

  private:
    std::wstring path_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Creates the next free candidate as a new, empty file; empty on failure.
std::wstring CreateNew(SiblingNames& names) {
    // Not const: returned by move, so that no allocation can fail between
    // creating the file and handing it to its owner.
    for (std::wstring path = names.Next(); !path.empty(); path = names.Next()) {
        FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.Valid()) return path;
        const DWORD error = GetLastError();
        // A file or folder of that name is already there: try the next.
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS &&
            error != ERROR_ACCESS_DENIED)
            break;
    }
    return std::wstring();
}

// The next candidate that names nothing yet; empty when none is left. The
// replacement itself creates the file.
std::wstring FreeName(SiblingNames& names) {
    for (std::wstring path = names.Next(); !path.empty(); path = names.Next()) {
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
            GetLastError() == ERROR_FILE_NOT_FOUND)
            return path;
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

// Whether this account may remove the target. The new file gets the target's
// permissions, so this also says that it can be removed again when the
// replacement fails. Access is checked before sharing: a file that others
// hold open without sharing its deletion still grants the right, and the
// replacement itself finds out whether they let go.
bool MayRemove(const std::wstring& target) {
    FileHandle file(
        CreateFileW(target.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
    return file.Valid() || GetLastError() == ERROR_SHARING_VIOLATION;
}

// The creation time, as far as the file system keeps one that is set.
void CarryCreationTime(const std::wstring& from, const std::wstring& to) {
    FileHandle source(CreateFileW(from.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    FILETIME created;
    if (!source.Valid() || !GetFileTime(source.Get(), &created, nullptr, nullptr)) return;
    FileHandle dest(CreateFileW(to.c_str(), FILE_WRITE_ATTRIBUTES, kShareAll, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    if (dest.Valid()) SetFileTime(dest.Get(), &created, nullptr, nullptr);
}

// Hidden, system and not-indexed go with the file. Archive is always set: the
// content has changed, and backups look for that mark.
bool CarryAttributes(DWORD attributes, const std::wstring& to) {
    constexpr DWORD kKept =
        FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    return SetFileAttributesW(to.c_str(), (attributes & kKept) | FILE_ATTRIBUTE_ARCHIVE) != 0;
}

// Owner, group and permissions, as many as this account may set: another
// account as owner or a group it is not in needs privileges that a plug-in
// does not take, and then the file gets this account as owner (or its own
// primary group) but always the permissions. A target whose security cannot
// be read has nothing to carry; one whose permissions cannot be set on the
// new file is not replaced, so that a save never opens or closes access to
// the host's configuration. A file system without per-file security (FAT)
// has nothing to keep either.
bool CarrySecurity(const std::wstring& from, const std::wstring& to) {
    constexpr SECURITY_INFORMATION kAll =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    GetFileSecurityW(from.c_str(), kAll, nullptr, 0, &size);
    if (size == 0) return true;
    std::vector<BYTE> descriptor(size);
    if (!GetFileSecurityW(from.c_str(), kAll, descriptor.data(), size, &size)) return true;
    for (SECURITY_INFORMATION what : {kAll, kAll & ~OWNER_SECURITY_INFORMATION,
                                      SECURITY_INFORMATION{DACL_SECURITY_INFORMATION}}) {
        if (SetFileSecurityW(to.c_str(), what, descriptor.data())) return true;
    }
    const DWORD error = GetLastError();
    return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
}

// Gives the new file what the target has that a rename would lose. The
// system's replacement does much of this itself on Windows, not under every
// implementation of it: done here, it is the same everywhere. Security goes
// last, so that it cannot stand in the way of the other two.
bool CarryIdentity(const std::wstring& target, DWORD attributes, const std::wstring& temp) {
    CarryCreationTime(target, temp);
    return CarryAttributes(attributes, temp) && CarrySecurity(target, temp);
}

bool ReplaceExisting(const std::wstring& target, DWORD attributes, OwnFile& temp,
                     SiblingNames& names) {
    if (!CarryIdentity(target, attributes, temp.Path())) return false;
    // Without a backup name, a replacement that fails half-way may leave the
    // original under a name nobody knows, or not at all: give it one.
    OwnFile backup(FreeName(names));
    if (backup.Path().empty()) return false;
    if (ReplaceFileW(target.c_str(), temp.c_str(), backup.c_str(), REPLACEFILE_IGNORE_MERGE_ERRORS,
                     nullptr, nullptr)) {
        temp.Release();  // it is the target now; the backup holds the old content
        return true;
    }
    // The original went to the backup name and the new file did not follow:
    // put it back. Should that fail too, the backup is the only copy left.
    if (GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES &&
        GetLastError() == ERROR_FILE_NOT_FOUND &&
        !MoveFileExW(backup.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH))
        backup.Release();
    return false;
}

}  // namespace

bool ReplaceFileContent(const std::wstring& target,
                        const std::function<bool(const std::wstring& tempPath)>& write) {
    // Windows refuses to rename over a read-only file, but not every
    // implementation of these calls does: refuse here, the same everywhere.
    const DWORD attributes = GetFileAttributesW(target.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists &&
        ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) || !MayRemove(target)))
        return false;
    SiblingNames names(target);
    OwnFile temp(CreateNew(names));
    if (temp.Path().empty()) return false;
    if (!write(temp.Path()) || !FlushNonEmpty(temp.Path())) return false;
    if (exists) return ReplaceExisting(target, attributes, temp, names);
    // A new file; one that another writer created meanwhile is left to it.
    if (!MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH)) return false;
    temp.Release();
    return true;
}

}  // namespace hk4
