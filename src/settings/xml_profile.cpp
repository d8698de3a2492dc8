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
    try {
        Save();  // a failed save loses this store's changes only
    } catch (...) {
    }
}

namespace {

std::unique_ptr<XmlElement> FindKey(XmlDocument* document, const std::string& section,
                                    const std::string& key) {
    if (!document) return nullptr;
    std::unique_ptr<XmlElement> root = document->DocumentElement();
    if (!root) return nullptr;
    std::unique_ptr<XmlElement> sectionElement = root->SelectFirstChild(section);
    if (!sectionElement) return nullptr;
    return sectionElement->SelectFirstChild(key);
}

std::unique_ptr<XmlElement> FindOrCreateKey(XmlDocument* document, const std::string& section,
                                            const std::string& key) {
    if (!document) return nullptr;
    std::unique_ptr<XmlElement> root = document->DocumentElement();
    if (!root) return nullptr;
    std::unique_ptr<XmlElement> sectionElement = root->SelectFirstChild(section);
    if (!sectionElement) {
        sectionElement = document->CreateElement(section);
        if (!sectionElement || !root->AppendChild(*sectionElement)) return nullptr;
    } else if (std::unique_ptr<XmlElement> existing = sectionElement->SelectFirstChild(key)) {
        return existing;
    }
    std::unique_ptr<XmlElement> keyElement = document->CreateElement(key);
    if (!keyElement || !sectionElement->AppendChild(*keyElement)) return nullptr;
    return keyElement;
}

// Makes `edits` again in `document` (the file as it is now) and keeps in
// `made` those that change it there: a value it already holds is not set
// again; a key that is gone, or has meanwhile got a value, is not removed.
// False when a change cannot be made.
bool Replay(XmlDocument& document, const std::vector<ProfileEdit>& edits,
            std::vector<ProfileEdit>& made) {
    for (const ProfileEdit& edit : edits) {
        std::unique_ptr<XmlElement> key = FindKey(&document, edit.section, edit.key);
        const std::optional<std::string> text = key ? key->Text() : std::nullopt;
        if (edit.kind == ProfileEdit::Kind::Remove) {
            if (!key || !text || !text->empty()) continue;
            std::unique_ptr<XmlElement> parent = key->Parent();
            if (!parent || !parent->RemoveChild(*key)) return false;
        } else {
            if (text && *text == edit.value) continue;
            key = FindOrCreateKey(&document, edit.section, edit.key);
            if (!key || !key->PutText(edit.value)) return false;
        }
        made.push_back(edit);
    }
    return true;
}

}  // namespace

XmlProfile::SaveOutcome XmlProfile::Save() {
    // A file that already holds what the store means to keep is not
    // written at all: nothing can be lost, and its time stamps stay.
    if (!document_ || !save_ || (!create_ && edits_.empty())) return SaveOutcome::NothingToWrite;
    save_ = false;
    // Mostly the host has not written meanwhile: the document loaded is the
    // file as it is now, and its changes are the ones to make.
    if (!create_ && document_->Unchanged(path_))
        return document_->SaveEdits(path_, edits_) ? SaveOutcome::Written : SaveOutcome::Failed;
    // The file as it is now: the host wrote it since it was loaded, and what
    // it wrote is kept.
    std::unique_ptr<XmlDocument> now = document_->Fresh();
    if (!now) return SaveOutcome::Failed;
    switch (now->Load(path_)) {
        case XmlDocument::LoadResult::Loaded: {
            std::vector<ProfileEdit> made;
            if (!Replay(*now, edits_, made)) return SaveOutcome::ProfileChanged;
            if (made.empty()) return SaveOutcome::NothingToWrite;
            return now->SaveEdits(path_, made) ? SaveOutcome::Written : SaveOutcome::Failed;
        }
        case XmlDocument::LoadResult::NoFile:
        case XmlDocument::LoadResult::EmptyFile:
            // Only a profile that held nothing when it was loaded gets the
            // whole document: one that went away meanwhile was the host's
            // doing.
            if (!create_) return SaveOutcome::ProfileChanged;
            return document_->Save(path_) ? SaveOutcome::Written : SaveOutcome::Failed;
        case XmlDocument::LoadResult::Unreadable:
            break;
    }
    return SaveOutcome::ProfileChanged;
}

std::optional<std::string> XmlProfile::ReadKey(const std::string& section, const std::string& key) {
    std::unique_ptr<XmlElement> keyElement = FindKey(document_.get(), section, key);
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
    if (std::unique_ptr<XmlElement> existing = FindKey(document_.get(), section, key)) {
        const std::optional<std::string> text = existing->Text();
        if (text && *text == value) return true;
    }
    // Whatever this did to the document is recorded, even a text that could
    // not be set: the file written must read back as the document is.
    if (std::unique_ptr<XmlElement> keyElement = FindOrCreateKey(document_.get(), section, key)) {
        keyElement->PutText(value);
        Record({ProfileEdit::Kind::Set, section, key, std::move(value)});
    }
    return true;
}

void XmlProfile::Record(ProfileEdit edit) {
    // Kept for a file that held nothing too: the host may have written one
    // by the time the store saves.
    edits_.push_back(std::move(edit));
}

}  // namespace hk4
