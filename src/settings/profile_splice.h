// Writing the store's changes into the host's profile as text: the file's
// own bytes, with only the elements the store changed rewritten, so that its
// encoding, declaration, layout, comments and every character of the host's
// stay exactly as they were, whatever a document service would write.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace hk4 {

// One change the store made to its document, in the order it made them.
struct ProfileEdit {
    enum class Kind {
        Set,     // the first key element gets `value` as its only content,
                 // created (with its section) as the last child when missing
        Remove,  // the first key element goes
    };
    Kind kind;
    std::string section;
    std::string key;
    std::string value;  // Set only: narrow text, as the store was given it
};

// Narrow text to UTF-16; nothing when it cannot be converted.
using WidenText = std::function<std::optional<std::u16string>(const std::string&)>;

// `bytes` (the whole file) with `edits` applied as the store applied them to
// its document: section elements are children of the root element, key
// elements children of their section, the first of a name counts. New
// elements follow the indentation of their siblings, or stay on the line
// when the file has none. Values go in as character references wherever
// they are not plain ASCII, so any encoding can hold them. Nothing outside
// the changed elements is touched. Nothing when the text cannot be followed:
// an encoding whose markup is not ASCII or UTF-16 (UCS-4, EBCDIC), markup
// that is not well-formed where it is read, a removal that finds nothing,
// a section or key name that is not ASCII.
std::optional<std::string> SpliceProfile(const std::string& bytes,
                                         const std::vector<ProfileEdit>& edits,
                                         const WidenText& widen);

}  // namespace hk4
