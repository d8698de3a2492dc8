#include "settings/xml_profile.h"

#include <utility>

#include "settings/profile_number.h"

namespace hk4 {

XmlProfile::XmlProfile(std::unique_ptr<XmlDocument> document, const std::string& profilePath,
                       bool ntFamily)
    : document_(std::move(document)), path_(ntFamily ? profilePath : std::string()) {
    if (!document_) return;
    // Without a path nothing can be loaded and nothing would persist; the
    // store still works in memory so that reads return their defaults.
    if (!path_.empty()) {
        switch (document_->Load(path_)) {
            case XmlDocument::LoadResult::Loaded:
                save_ = true;
                break;
            case XmlDocument::LoadResult::NoFile:
            case XmlDocument::LoadResult::EmptyFile:
                save_ = create_ = true;
                break;
            case XmlDocument::LoadResult::Unreadable:
                // The host's own file, which we could not understand: never
                // replace it with our near-empty document.
                document_.reset();
                return;
        }
    }
    if (!document_->DocumentElement()) {
        std::unique_ptr<XmlElement> root = document_->CreateElement("profile");
        if (!root || !document_->AppendChild(*root) || !document_->DocumentElement()) {
            document_.reset();
            save_ = false;
        }
    }
}

XmlProfile::~XmlProfile() {
    // A file that already holds what the store means to keep is not
    // written at all: nothing can be lost, and its time stamps stay.
    if (!document_ || !save_ || (!create_ && edits_.empty())) return;
    try {
        // A failed save loses this store's changes only.
        if (create_)
            document_->Save(path_);
        else
            document_->SaveEdits(path_, edits_);
    } catch (...) {
    }
}

std::unique_ptr<XmlElement> XmlProfile::FindKey(const std::string& section,
                                                const std::string& key) {
    if (!document_) return nullptr;
    std::unique_ptr<XmlElement> root = document_->DocumentElement();
    if (!root) return nullptr;
    std::unique_ptr<XmlElement> sectionElement = root->SelectFirstChild(section);
    if (!sectionElement) return nullptr;
    return sectionElement->SelectFirstChild(key);
}

std::unique_ptr<XmlElement> XmlProfile::FindOrCreateKey(const std::string& section,
                                                        const std::string& key) {
    if (!document_) return nullptr;
    std::unique_ptr<XmlElement> root = document_->DocumentElement();
    if (!root) return nullptr;
    std::unique_ptr<XmlElement> sectionElement = root->SelectFirstChild(section);
    if (!sectionElement) {
        sectionElement = document_->CreateElement(section);
        if (!sectionElement || !root->AppendChild(*sectionElement)) return nullptr;
    } else if (std::unique_ptr<XmlElement> existing = sectionElement->SelectFirstChild(key)) {
        return existing;
    }
    std::unique_ptr<XmlElement> keyElement = document_->CreateElement(key);
    if (!keyElement || !sectionElement->AppendChild(*keyElement)) return nullptr;
    return keyElement;
}

std::optional<std::string> XmlProfile::ReadKey(const std::string& section, const std::string& key) {
    std::unique_ptr<XmlElement> keyElement = FindKey(section, key);
    if (!keyElement) return std::nullopt;
    std::optional<std::string> text = keyElement->Text();
    if (!text) return std::nullopt;
    if (text->empty()) {
        // An empty value counts as missing; the section stays even when this
        // leaves it empty.
        std::unique_ptr<XmlElement> parent = keyElement->Parent();
        if (parent && parent->RemoveChild(*keyElement))
            Record({ProfileEdit::Kind::Remove, section, key, std::string()});
        return std::nullopt;
    }
    return text;
}

int32_t XmlProfile::GetInt(const std::string& section, const std::string& key, int32_t def) {
    const std::optional<std::string> text = ReadKey(section, key);
    return text ? ParseProfileInt(*text) : def;
}

bool XmlProfile::SetInt(const std::string& section, const std::string& key, int32_t value) {
    return SetString(section, key, FormatProfileInt(value));
}

std::string XmlProfile::GetString(const std::string& section, const std::string& key,
                                  std::string def) {
    std::optional<std::string> text = ReadKey(section, key);
    return text ? std::move(*text) : std::move(def);
}

bool XmlProfile::SetString(const std::string& section, const std::string& key, std::string value) {
    // A value the file already holds changes nothing.
    if (std::unique_ptr<XmlElement> existing = FindKey(section, key)) {
        const std::optional<std::string> text = existing->Text();
        if (text && *text == value) return true;
    }
    // Whatever this did to the document is recorded, even a text that could
    // not be set: the file written must read back as the document is.
    if (std::unique_ptr<XmlElement> keyElement = FindOrCreateKey(section, key)) {
        keyElement->PutText(value);
        Record({ProfileEdit::Kind::Set, section, key, std::move(value)});
    }
    return true;
}

void XmlProfile::Record(ProfileEdit edit) {
    // Without a loaded file there is nothing to edit: the whole document is
    // written instead.
    if (!create_) edits_.push_back(std::move(edit));
}

}  // namespace hk4
