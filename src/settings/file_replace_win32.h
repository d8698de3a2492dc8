// Replacing a file in one piece: the new content is written to a temporary
// file beside the target, flushed, given the target's attributes, creation
// time and security, and put in the target's place by the system's file
// replacement, so that a failure at any point leaves the target as it was.
// Paths are wide so that every call here and in MSXML names the same file.
#pragma once

#include <functional>
#include <string>

namespace hk4 {

// Calls `write` with the path of a fresh, empty temporary file in the
// target's folder; when `write` succeeds and the file is no longer empty, it
// replaces `target`, which keeps its attributes (archive set, as after any
// write), creation time, permissions and, as far as this account may set
// them, owner and group. A read-only target is never replaced, nor one whose
// permissions cannot be carried over. A missing target is created; one that
// appears meanwhile is left alone. The temporary file never outlives the call.
bool ReplaceFileContent(const std::wstring& target,
                        const std::function<bool(const std::wstring& tempPath)>& write);

}  // namespace hk4
