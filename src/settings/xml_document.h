// The few operations of an XML DOM document that the profile store needs.
// The plug-in's implementation is MSXML (msxml_document_win32.cpp); tests use
// an in-memory document. Every element handle owns its own reference to the
// node and releases it when destroyed. Elements handed back to a document
// (AppendChild, RemoveChild) must come from that same document.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "settings/profile_splice.h"

namespace hk4 {

class XmlElement {
  public:
    virtual ~XmlElement() = default;

    // The first child element named `name`, or null.
    virtual std::unique_ptr<XmlElement> SelectFirstChild(const std::string& name) = 0;
    // Appends `child` as the last child of this element.
    virtual bool AppendChild(XmlElement& child) = 0;
    virtual bool RemoveChild(XmlElement& child) = 0;
    // The parent element, or null.
    virtual std::unique_ptr<XmlElement> Parent() = 0;
    // The whole text content; nothing when it cannot be read.
    virtual std::optional<std::string> Text() = 0;
    // Replaces all content with one text node.
    virtual bool PutText(const std::string& text) = 0;
};

class XmlDocument {
  public:
    // What loading a file found. An existing file that could not be read or
    // parsed is kept apart from a missing or empty one: only the latter may
    // be replaced by a fresh document.
    enum class LoadResult { Loaded, NoFile, EmptyFile, Unreadable };

    virtual ~XmlDocument() = default;

    virtual LoadResult Load(const std::string& path) = 0;
    // Whether the file at `path` still holds exactly the text this document
    // was loaded from (false when it was loaded from no file).
    virtual bool Unchanged(const std::string& path) = 0;
    // A new, empty document of the same kind and settings: the file as it is
    // at the moment of saving is loaded into one. Null when none can be had.
    virtual std::unique_ptr<XmlDocument> Fresh() = 0;
    // Writes the whole document to `path` in one piece, for a file that held
    // nothing: on failure the file that was there before is left as it was.
    virtual bool Save(const std::string& path) = 0;
    // Writes the file that was loaded again with `edits` (the changes made
    // to this document since) applied to its own text, and nothing else
    // changed; the new file replaces `path` only when it reads back as this
    // document and `path` still holds the text that was loaded. On failure
    // the file is left as it was.
    virtual bool SaveEdits(const std::string& path, const std::vector<ProfileEdit>& edits) = 0;
    // The root element, or null when the document has none.
    virtual std::unique_ptr<XmlElement> DocumentElement() = 0;
    // A new element, not yet part of the tree.
    virtual std::unique_ptr<XmlElement> CreateElement(const std::string& name) = 0;
    // Appends `element` to the document itself (it becomes the root element
    // when there is none).
    virtual bool AppendChild(XmlElement& element) = 0;
};

}  // namespace hk4
