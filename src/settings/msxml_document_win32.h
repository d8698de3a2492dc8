// The profile store's document on Windows: an MSXML DOM document reached
// through COM. COM must already be initialised on the calling thread; the
// plug-in never initialises it itself.
#pragma once

#include <memory>
#include <string>

#include "settings/xml_document.h"

namespace hk4 {

// A new, empty document; null when MSXML cannot be created.
std::unique_ptr<XmlDocument> CreateMsxmlDocument();

// Tests only: called with the path of every file a save has written, before
// it is read back and compared. The plug-in never sets one.
using WrittenFileHook = void (*)(const std::wstring& path);
void SetWrittenFileHookForTesting(WrittenFileHook hook);

}  // namespace hk4
