#include "settings/profile_splice.h"

#include <cstddef>
#include <cstring>

namespace hk4 {

namespace {

constexpr std::size_t kNone = std::string::npos;

// The file's text as units: bytes for encodings whose markup is ASCII,
// 16-bit units for UTF-16. Markup is always found by its ASCII characters.
template <typename S>
class TextSplicer {
  public:
    using C = typename S::value_type;

    TextSplicer(S& s, const WidenText& widen) : s_(s), widen_(widen) {}

    bool Apply(const ProfileEdit& edit) {
        if (!IsAscii(edit.section) || !IsAscii(edit.key) || edit.section.empty() ||
            edit.key.empty())
            return false;
        Element root;
        std::vector<Element> sections;
        if (!ReadRoot(root) || !Children(root, sections)) return false;
        const Element* section = FirstNamed(sections, edit.section);
        if (edit.kind == ProfileEdit::Kind::Remove) {
            std::vector<Element> keys;
            if (!section || !Children(*section, keys)) return false;
            const Element* key = FirstNamed(keys, edit.key);
            if (!key) return false;
            Remove(*section, *key);
            return true;
        }
        const std::optional<std::u16string> wide = widen_(edit.value);
        if (!wide) return false;
        const S value = Escaped(*wide);
        if (!section) {
            // A new section, last in the root, its key indented one step
            // further than the root's children are.
            const S indent = sections.empty() ? S() : LineBreakBefore(sections.back().start, root);
            const S inner = indent.empty() ? S() : indent + IndentOf(indent);
            AppendInto(root, indent + Tag(edit.section, inner + KeyXml(edit.key, value) + indent));
            return true;
        }
        std::vector<Element> keys;
        if (!Children(*section, keys)) return false;
        if (const Element* key = FirstNamed(keys, edit.key)) {
            SetContent(*key, value);
            return true;
        }
        // A new key, last in its section, indented as its siblings are, or
        // one step further than the section when it has none.
        const S sectionIndent = LineBreakBefore(section->start, root);
        S indent;
        S closing;
        if (!keys.empty()) {
            indent = LineBreakBefore(keys.back().start, *section);
        } else if (!sectionIndent.empty()) {
            indent = sectionIndent + IndentOf(sectionIndent);
            if (!HasLineBreak(TrailingSpace(*section))) closing = sectionIndent;
        }
        AppendInto(*section, indent + KeyXml(edit.key, value) + closing);
        return true;
    }

  private:
    struct Element {
        std::size_t start = 0;       // its '<'
        std::size_t nameEnd = 0;     // after its name
        std::size_t openEnd = 0;     // after the start tag
        std::size_t closeStart = 0;  // the end tag's '<' (openEnd for <name/>)
        std::size_t end = 0;         // after the whole element
        bool selfClosing = false;
    };

    static bool IsAscii(const std::string& text) {
        for (char c : text)
            if (static_cast<unsigned char>(c) >= 0x80) return false;
        return true;
    }

    static bool IsSpace(C c) { return c == C(' ') || c == C('\t') || c == C('\r') || c == C('\n'); }

    static S Ascii(const char* text) {
        S out;
        for (; *text; ++text) out.push_back(C(static_cast<unsigned char>(*text)));
        return out;
    }
    static S Ascii(const std::string& text) { return Ascii(text.c_str()); }

    bool At(std::size_t pos, const char* token) const {
        for (; *token; ++token, ++pos)
            if (pos >= s_.size() || s_[pos] != C(static_cast<unsigned char>(*token))) return false;
        return true;
    }

    std::size_t Find(std::size_t pos, const char* token) const {
        for (; pos < s_.size(); ++pos)
            if (At(pos, token)) return pos;
        return kNone;
    }

    std::size_t After(std::size_t pos, const char* token) const {
        const std::size_t at = Find(pos, token);
        return at == kNone ? kNone : at + std::strlen(token);
    }

    // After a comment, CDATA section or processing instruction at `pos`;
    // `pos` itself when none starts there; kNone when it never ends.
    std::size_t SkipOther(std::size_t pos) const {
        if (At(pos, "<!--")) return After(pos + 4, "-->");
        if (At(pos, "<![CDATA[")) return After(pos + 9, "]]>");
        if (At(pos, "<?")) return After(pos + 2, "?>");
        return pos;
    }

    // After a document type declaration, its internal subset included.
    std::size_t SkipDoctype(std::size_t pos) const {
        C quote = 0;
        bool subset = false;
        for (pos += 9; pos < s_.size(); ++pos) {
            const C c = s_[pos];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == C('"') || c == C('\'')) {
                quote = c;
            } else if (subset && (At(pos, "<!--") || At(pos, "<?"))) {
                const std::size_t next = SkipOther(pos);
                if (next == kNone) return kNone;
                pos = next - 1;
            } else if (c == C('[')) {
                subset = true;
            } else if (c == C(']')) {
                subset = false;
            } else if (c == C('>') && !subset) {
                return pos + 1;
            }
        }
        return kNone;
    }

    // After the '>' that ends the tag whose attributes start at `pos`.
    std::size_t TagEnd(std::size_t pos, bool& selfClosing) const {
        C quote = 0;
        for (; pos < s_.size(); ++pos) {
            const C c = s_[pos];
            if (quote) {
                if (c == quote) quote = 0;
            } else if (c == C('"') || c == C('\'')) {
                quote = c;
            } else if (c == C('<')) {
                return kNone;
            } else if (c == C('>')) {
                selfClosing = s_[pos - 1] == C('/');
                return pos + 1;
            }
        }
        return kNone;
    }

    bool ReadElement(std::size_t start, Element& e) const {
        e.start = start;
        std::size_t p = start + 1;
        while (p < s_.size() && !IsSpace(s_[p]) && s_[p] != C('/') && s_[p] != C('>')) ++p;
        if (p == start + 1) return false;
        e.nameEnd = p;
        e.openEnd = TagEnd(p, e.selfClosing);
        if (e.openEnd == kNone) return false;
        if (e.selfClosing) {
            e.closeStart = e.end = e.openEnd;
            return true;
        }
        // Nested elements are only counted: their names are the parser's
        // business, which has read this same text.
        std::size_t depth = 1;
        p = e.openEnd;
        for (;;) {
            p = Find(p, "<");
            if (p == kNone) return false;
            const std::size_t next = SkipOther(p);
            if (next == kNone) return false;
            if (next != p) {
                p = next;
            } else if (At(p, "</")) {
                const std::size_t gt = Find(p, ">");
                if (gt == kNone) return false;
                if (--depth == 0) {
                    e.closeStart = p;
                    e.end = gt + 1;
                    return true;
                }
                p = gt + 1;
            } else if (At(p, "<!")) {
                return false;
            } else {
                bool selfClosing = false;
                p = TagEnd(p + 1, selfClosing);
                if (p == kNone) return false;
                if (!selfClosing) ++depth;
            }
        }
    }

    bool ReadRoot(Element& root) const {
        for (std::size_t p = 0;;) {
            p = Find(p, "<");
            if (p == kNone) return false;
            const std::size_t next = SkipOther(p);  // declaration, comments, PIs
            if (next == kNone) return false;
            if (next != p) {
                p = next;
            } else if (At(p, "<!DOCTYPE")) {
                p = SkipDoctype(p);
                if (p == kNone) return false;
            } else if (At(p, "<!") || At(p, "</")) {
                return false;
            } else {
                return ReadElement(p, root);
            }
        }
    }

    bool Children(const Element& parent, std::vector<Element>& out) const {
        for (std::size_t p = parent.openEnd; p < parent.closeStart;) {
            p = Find(p, "<");
            if (p == kNone || p >= parent.closeStart) break;
            const std::size_t next = SkipOther(p);
            if (next == kNone) return false;
            if (next != p) {
                p = next;
                continue;
            }
            Element child;
            if (!ReadElement(p, child)) return false;
            out.push_back(child);
            p = child.end;
        }
        return true;
    }

    const Element* FirstNamed(const std::vector<Element>& elements, const std::string& name) const {
        for (const Element& e : elements) {
            if (e.nameEnd - e.start - 1 != name.size()) continue;
            bool same = true;
            for (std::size_t i = 0; same && i < name.size(); ++i)
                same = s_[e.start + 1 + i] == C(static_cast<unsigned char>(name[i]));
            if (same) return &e;
        }
        return nullptr;
    }

    static bool HasLineBreak(const S& text) { return text.find(C('\n')) != S::npos; }

    // The white space just before `pos` inside `parent`, when it breaks the
    // line (the element at `pos` starts a line of its own); empty otherwise.
    S LineBreakBefore(std::size_t pos, const Element& parent) const {
        std::size_t b = pos;
        while (b > parent.openEnd && IsSpace(s_[b - 1])) --b;
        S space = s_.substr(b, pos - b);
        return HasLineBreak(space) ? space : S();
    }

    // What follows the last line break: one line's indentation.
    static S IndentOf(const S& space) { return space.substr(space.rfind(C('\n')) + 1); }

    // The white space that ends the content of `parent`.
    S TrailingSpace(const Element& parent) const {
        std::size_t b = parent.closeStart;
        while (b > parent.openEnd && IsSpace(s_[b - 1])) --b;
        return s_.substr(b, parent.closeStart - b);
    }

    S Tag(const std::string& name, const S& content) const {
        return Ascii("<" + name + ">") + content + Ascii("</" + name + ">");
    }
    S KeyXml(const std::string& key, const S& value) const { return Tag(key, value); }

    // `text` as content: markup characters, line ends and everything beyond
    // printable ASCII as references, which every encoding can carry.
    static S Escaped(const std::u16string& text) {
        S out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            char32_t c = text[i];
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                text[i + 1] < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                ++i;
            }
            if (c == U'<') {
                out += Ascii("&lt;");
            } else if (c == U'>') {
                out += Ascii("&gt;");
            } else if (c == U'&') {
                out += Ascii("&amp;");
            } else if ((c >= 0x20 && c < 0x7F) || c == U'\t' || c == U'\n') {
                out.push_back(C(c));
            } else {
                out += Ascii("&#" + std::to_string(static_cast<unsigned long>(c)) + ";");
            }
        }
        return out;
    }

    // <name .../> opened up: its start tag without the "/", and an end tag.
    S Opened(const Element& e, const S& content) const {
        S name = s_.substr(e.start + 1, e.nameEnd - e.start - 1);
        return s_.substr(e.start, e.openEnd - 2 - e.start) + Ascii(">") + content + Ascii("</") +
               name + Ascii(">");
    }

    // `text` as the last content of `parent`, before the white space that
    // closes it.
    void AppendInto(const Element& parent, const S& text) {
        if (parent.selfClosing) {
            s_.replace(parent.start, parent.end - parent.start, Opened(parent, text));
            return;
        }
        std::size_t at = parent.closeStart;
        while (at > parent.openEnd && IsSpace(s_[at - 1])) --at;
        s_.insert(at, text);
    }

    void SetContent(const Element& key, const S& value) {
        if (key.selfClosing)
            s_.replace(key.start, key.end - key.start, Opened(key, value));
        else
            s_.replace(key.openEnd, key.closeStart - key.openEnd, value);
    }

    // An element on a line of its own goes with its line; one that shares
    // its line goes alone.
    void Remove(const Element& parent, const Element& e) {
        std::size_t b = e.start;
        while (b > parent.openEnd && (s_[b - 1] == C(' ') || s_[b - 1] == C('\t'))) --b;
        std::size_t a = e.end;
        while (a < parent.closeStart && (s_[a] == C(' ') || s_[a] == C('\t'))) ++a;
        const bool lineStart = b > parent.openEnd && s_[b - 1] == C('\n');
        std::size_t lineEnd = kNone;
        if (At(a, "\r\n"))
            lineEnd = a + 2;
        else if (At(a, "\n"))
            lineEnd = a + 1;
        if (lineStart && lineEnd != kNone && lineEnd <= parent.closeStart)
            s_.erase(b, lineEnd - b);
        else
            s_.erase(e.start, e.end - e.start);
    }

    S& s_;
    const WidenText& widen_;
};

template <typename S>
bool ApplyAll(S& text, const std::vector<ProfileEdit>& edits, const WidenText& widen) {
    TextSplicer<S> splicer(text, widen);
    for (const ProfileEdit& edit : edits)
        if (!splicer.Apply(edit)) return false;
    return true;
}

}  // namespace

std::optional<std::string> SpliceProfile(const std::string& bytes,
                                         const std::vector<ProfileEdit>& edits,
                                         const WidenText& widen) {
    auto u = [&](std::size_t i) {
        return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0x100u;
    };
    // UCS-4 in either order, with or without its mark, and EBCDIC.
    if ((u(0) == 0 && u(1) == 0) || (u(2) == 0 && u(3) == 0 && (u(0) == 0x3C || u(0) == 0xFF)) ||
        (u(0) == 0x4C && u(1) == 0x6F && u(2) == 0xA7 && u(3) == 0x94))
        return std::nullopt;
    bool utf16 = false;
    bool bigEndian = false;
    std::size_t mark = 0;
    if (u(0) == 0xFF && u(1) == 0xFE) {
        utf16 = true;
        mark = 2;
    } else if (u(0) == 0xFE && u(1) == 0xFF) {
        utf16 = bigEndian = true;
        mark = 2;
    } else if (u(0) == 0x3C && u(1) == 0x00) {
        utf16 = true;
    } else if (u(0) == 0x00 && u(1) == 0x3C) {
        utf16 = bigEndian = true;
    }
    if (!utf16) {
        std::string text = bytes;
        if (!ApplyAll(text, edits, widen)) return std::nullopt;
        return text;
    }
    if ((bytes.size() - mark) % 2 != 0) return std::nullopt;
    std::u16string text;
    text.reserve((bytes.size() - mark) / 2);
    for (std::size_t i = mark; i < bytes.size(); i += 2) {
        const unsigned hi = bigEndian ? u(i) : u(i + 1);
        const unsigned lo = bigEndian ? u(i + 1) : u(i);
        text.push_back(static_cast<char16_t>(hi << 8 | lo));
    }
    if (!ApplyAll(text, edits, widen)) return std::nullopt;
    std::string out = bytes.substr(0, mark);
    out.reserve(mark + text.size() * 2);
    for (char16_t c : text) {
        const char hi = static_cast<char>(c >> 8);
        const char lo = static_cast<char>(c & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    }
    return out;
}

}  // namespace hk4
