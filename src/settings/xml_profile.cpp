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
            case XmlDocument::LoadResult::NoFile:
            case XmlDocument::LoadResult::EmptyFile:
                save_ = true;
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
    if (document_ && save_) {
        try {
            document_->Save(path_);  // a failed save loses this store's changes only
        } catch (...) {
        }
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
        if (std::unique_ptr<XmlElement> parent = keyElement->Parent())
            parent->RemoveChild(*keyElement);
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
    if (std::unique_ptr<XmlElement> keyElement = FindOrCreateKey(section, key))
        keyElement->PutText(value);
    return true;
}

}  // namespace hk4
