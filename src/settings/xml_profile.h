// XmlProfile: named integer (and string) values in the host's XML profile,
// grouped by section and key:
//   <any root><Section><Key>value</Key></Section></any root>
// A store is short-lived: construction loads the file, reads and writes work
// on the document in memory, and the save (at the latest at destruction)
// writes the file when, and only when, the store changed what it holds. The
// save works on the file as it is at that moment, not as it was loaded: the
// store's changes are made again to what the host may have written
// meanwhile. A missing or empty file gets the whole document; an existing
// one keeps its own text, with only the elements the store changed
// rewritten in it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "settings/xml_document.h"

namespace hk4 {

// The message line when a save found the profile changed so that the
// settings could not be written into it.
inline constexpr const char* kProfileChangedText =
    "Pendant settings not saved: the profile was changed or removed meanwhile.";

class XmlProfile {
  public:
    // `document` may be null (it could not be created): the store then reads
    // defaults and keeps nothing. `profilePath` is used only on an NT-family
    // Windows (`ntFamily`); otherwise there is no file.
    XmlProfile(std::unique_ptr<XmlDocument> document, const std::string& profilePath,
               bool ntFamily);
    virtual ~XmlProfile();  // saves what changed, unless Save or Discard came first

    enum class SaveOutcome {
        NothingToWrite,  // no change, or the file already holds it
        Written,
        Failed,  // the file is left as it was (read-only, held open, ...)
        // The file is gone, or no longer a document the changes can be made
        // in: it is left as it is and the changes are lost.
        ProfileChanged,
    };
    // Makes the store's changes in the file as it is now. Once: later calls,
    // and the destruction, write nothing.
    SaveOutcome Save();
    // The document is not saved at destruction: the change that was under
    // way failed half-way, and the file keeps what it had.
    void Discard() { save_ = false; }

    XmlProfile(const XmlProfile&) = delete;
    XmlProfile& operator=(const XmlProfile&) = delete;

    int32_t GetInt(const std::string& section, const std::string& key, int32_t def);
    bool SetInt(const std::string& section, const std::string& key, int32_t value);
    std::string GetString(const std::string& section, const std::string& key, std::string def);
    bool SetString(const std::string& section, const std::string& key, std::string value);

  private:
    // The key's text; nothing when the key is missing or empty (an empty key
    // element is removed from the document).
    std::optional<std::string> ReadKey(const std::string& section, const std::string& key);
    // Notes a change made to the document, to be made to the file's text.
    void Record(ProfileEdit edit);

    std::unique_ptr<XmlDocument> document_;  // null: defaults only, nothing saved
    std::string path_;
    bool save_ = false;               // the document may still be saved
    bool create_ = false;             // the file held nothing: the whole document is written
    std::vector<ProfileEdit> edits_;  // the changes made to the document, in order
};

}  // namespace hk4
