// XmlProfile: named integer (and string) values in the host's XML profile,
// grouped by section and key:
//   <any root><Section><Key>value</Key></Section></any root>
// A store is short-lived: construction loads the file, reads and writes work
// on the document in memory, destruction writes the whole document back.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "settings/xml_document.h"

namespace hk4 {

class XmlProfile {
  public:
    // `document` may be null (it could not be created): the store then reads
    // defaults and keeps nothing. `profilePath` is used only on an NT-family
    // Windows (`ntFamily`); otherwise there is no file.
    XmlProfile(std::unique_ptr<XmlDocument> document, const std::string& profilePath,
               bool ntFamily);
    virtual ~XmlProfile();  // saves the document to its file
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
    std::unique_ptr<XmlElement> FindKey(const std::string& section, const std::string& key);
    std::unique_ptr<XmlElement> FindOrCreateKey(const std::string& section, const std::string& key);
    // The key's text; nothing when the key is missing or empty (an empty key
    // element is removed from the document).
    std::optional<std::string> ReadKey(const std::string& section, const std::string& key);

    std::unique_ptr<XmlDocument> document_;  // null: defaults only, nothing saved
    std::string path_;
    bool save_ = false;  // the document may replace the file at destruction
};

}  // namespace hk4
