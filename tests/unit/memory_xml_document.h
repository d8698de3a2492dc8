// An in-memory XML document for tests of the profile store, over a map of
// "files". It understands the small subset of XML the tests write: elements
// without attributes, text, and the entities &lt; &gt; &amp;. It serialises
// with no formatting of its own, an empty element as <name/>, so that tests
// can compare the saved text exactly.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "settings/xml_document.h"

namespace hk4test {

// The files a document loads from and saves to, and what happened to them.
struct MemoryFiles {
    std::map<std::string, std::string> files;
    std::vector<std::string> saved;  // every path saved to, in order
};

struct MemoryNode {
    bool text = false;
    std::string value;  // element name, or the text of a text node
    std::vector<std::shared_ptr<MemoryNode>> children;
    std::weak_ptr<MemoryNode> parent;
};

inline std::string XmlEscape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '&')
            out += "&amp;";
        else
            out += c;
    }
    return out;
}

inline void Serialise(const MemoryNode& node, std::string& out) {
    if (node.text) {
        out += XmlEscape(node.value);
        return;
    }
    if (node.children.empty()) {
        out += "<" + node.value + "/>";
        return;
    }
    out += "<" + node.value + ">";
    for (const auto& child : node.children) Serialise(*child, out);
    out += "</" + node.value + ">";
}

inline std::string TextOf(const MemoryNode& node) {
    if (node.text) return node.value;
    std::string out;
    for (const auto& child : node.children) out += TextOf(*child);
    return out;
}

// Recursive-descent parser of the subset; any surprise fails the parse.
class MemoryParser {
  public:
    explicit MemoryParser(const std::string& s) : s_(s) {}

    std::shared_ptr<MemoryNode> Document() {
        SkipSpace();
        std::shared_ptr<MemoryNode> root = Element();
        SkipSpace();
        return root && pos_ == s_.size() ? root : nullptr;
    }

  private:
    void SkipSpace() {
        while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\n' || s_[pos_] == '\t'))
            ++pos_;
    }
    std::string Name() {
        const std::size_t start = pos_;
        while (pos_ < s_.size() && s_[pos_] != '>' && s_[pos_] != '/' && s_[pos_] != '<' &&
               s_[pos_] != ' ')
            ++pos_;
        return s_.substr(start, pos_ - start);
    }
    bool Eat(const std::string& token) {
        if (s_.compare(pos_, token.size(), token) != 0) return false;
        pos_ += token.size();
        return true;
    }
    std::shared_ptr<MemoryNode> Element() {
        if (!Eat("<")) return nullptr;
        auto node = std::make_shared<MemoryNode>();
        node->value = Name();
        if (node->value.empty()) return nullptr;
        if (Eat("/>")) return node;
        if (!Eat(">")) return nullptr;
        while (!Eat("</")) {
            if (pos_ >= s_.size()) return nullptr;
            std::shared_ptr<MemoryNode> child = s_[pos_] == '<' ? Element() : Text();
            if (!child) return nullptr;
            child->parent = node;
            node->children.push_back(child);
        }
        return Name() == node->value && Eat(">") ? node : nullptr;
    }
    std::shared_ptr<MemoryNode> Text() {
        auto node = std::make_shared<MemoryNode>();
        node->text = true;
        while (pos_ < s_.size() && s_[pos_] != '<') {
            if (Eat("&lt;"))
                node->value += '<';
            else if (Eat("&gt;"))
                node->value += '>';
            else if (Eat("&amp;"))
                node->value += '&';
            else if (s_[pos_] == '&')
                return nullptr;
            else
                node->value += s_[pos_++];
        }
        return node;
    }

    const std::string& s_;
    std::size_t pos_ = 0;
};

class MemoryElement : public hk4::XmlElement {
  public:
    explicit MemoryElement(std::shared_ptr<MemoryNode> node) : node_(std::move(node)) {}

    std::unique_ptr<hk4::XmlElement> SelectFirstChild(const std::string& name) override {
        for (const auto& child : node_->children)
            if (!child->text && child->value == name) return std::make_unique<MemoryElement>(child);
        return nullptr;
    }
    bool AppendChild(hk4::XmlElement& child) override {
        return Adopt(node_, static_cast<MemoryElement&>(child).node());
    }
    bool RemoveChild(hk4::XmlElement& child) override {
        auto& siblings = node_->children;
        for (auto it = siblings.begin(); it != siblings.end(); ++it) {
            if (*it == static_cast<MemoryElement&>(child).node_) {
                (*it)->parent.reset();
                siblings.erase(it);
                return true;
            }
        }
        return false;
    }
    std::unique_ptr<hk4::XmlElement> Parent() override {
        std::shared_ptr<MemoryNode> parent = node_->parent.lock();
        if (!parent || parent->value.empty()) return nullptr;  // the document node
        return std::make_unique<MemoryElement>(parent);
    }
    std::optional<std::string> Text() override { return TextOf(*node_); }
    bool PutText(const std::string& text) override {
        for (auto& child : node_->children) child->parent.reset();
        node_->children.clear();
        if (!text.empty()) {
            auto t = std::make_shared<MemoryNode>();
            t->text = true;
            t->value = text;
            t->parent = node_;
            node_->children.push_back(t);
        }
        return true;
    }

    const std::shared_ptr<MemoryNode>& node() const { return node_; }

    static bool Adopt(const std::shared_ptr<MemoryNode>& parent,
                      const std::shared_ptr<MemoryNode>& child) {
        if (!child->parent.expired()) return false;  // the tests never move nodes
        child->parent = parent;
        parent->children.push_back(child);
        return true;
    }

  private:
    std::shared_ptr<MemoryNode> node_;
};

class MemoryXmlDocument : public hk4::XmlDocument {
  public:
    explicit MemoryXmlDocument(std::shared_ptr<MemoryFiles> files) : files_(std::move(files)) {}

    LoadResult Load(const std::string& path) override {
        auto it = files_->files.find(path);
        if (it == files_->files.end()) return LoadResult::NoFile;
        if (it->second.empty()) return LoadResult::EmptyFile;
        std::shared_ptr<MemoryNode> root = MemoryParser(it->second).Document();
        if (!root) return LoadResult::Unreadable;
        root->parent = document_;
        document_->children = {root};
        loaded_ = it->second;
        return LoadResult::Loaded;
    }
    bool Unchanged(const std::string& path) override {
        auto it = files_->files.find(path);
        return loaded_ && it != files_->files.end() && it->second == *loaded_;
    }
    std::unique_ptr<hk4::XmlDocument> Fresh() override {
        return std::make_unique<MemoryXmlDocument>(files_);
    }
    bool Save(const std::string& path) override {
        files_->files[path] = Text();
        files_->saved.push_back(path);
        return true;
    }
    // As the plug-in's document does it: the loaded text with the edits
    // made in it, kept only when it parses back to this document.
    bool SaveEdits(const std::string& path, const std::vector<hk4::ProfileEdit>& edits) override {
        auto it = files_->files.find(path);
        if (it == files_->files.end()) return false;
        const std::optional<std::string> text = hk4::SpliceProfile(
            it->second, edits, [](const std::string& narrow) -> std::optional<std::u16string> {
                return std::u16string(narrow.begin(), narrow.end());
            });
        if (!text) return false;
        std::shared_ptr<MemoryNode> root = MemoryParser(*text).Document();
        std::string reread;
        if (root) Serialise(*root, reread);
        if (reread != Text()) return false;
        it->second = *text;
        files_->saved.push_back(path);
        return true;
    }
    std::unique_ptr<hk4::XmlElement> DocumentElement() override {
        if (document_->children.empty()) return nullptr;
        return std::make_unique<MemoryElement>(document_->children.front());
    }
    std::unique_ptr<hk4::XmlElement> CreateElement(const std::string& name) override {
        auto node = std::make_shared<MemoryNode>();
        node->value = name;
        return std::make_unique<MemoryElement>(node);
    }
    bool AppendChild(hk4::XmlElement& element) override {
        // A document holds one root element, as a DOM does.
        if (!document_->children.empty()) return false;
        return MemoryElement::Adopt(document_, static_cast<MemoryElement&>(element).node());
    }

  private:
    std::string Text() const {
        std::string out;
        for (const auto& child : document_->children) Serialise(*child, out);
        return out;
    }

    std::shared_ptr<MemoryFiles> files_;
    std::optional<std::string> loaded_;                                      // the text Load parsed
    std::shared_ptr<MemoryNode> document_ = std::make_shared<MemoryNode>();  // value "" marks it
};

}  // namespace hk4test
