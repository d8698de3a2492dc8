// Replacing a file in one piece: the new content is written to a temporary
// file beside the target, flushed, and renamed over the target, so that a
// failure at any point leaves the target as it was. Paths are wide so that
// every call here and in MSXML names the same file.
#pragma once

#include <functional>
#include <string>

namespace hk4 {

// Calls `write` with the path of a fresh, empty temporary file in the
// target's folder; when `write` succeeds and the file is no longer empty, it
// replaces `target`. A read-only target is never replaced. The temporary
// file never outlives the call.
bool ReplaceFileContent(const std::wstring& target,
                        const std::function<bool(const std::wstring& tempPath)>& write);

}  // namespace hk4
