#include "settings/file_replace_names.h"

namespace hk4 {

namespace {

constexpr wchar_t kDigits[] = L"0123456789abcdefghijklmnopqrstuvwxyz";
constexpr unsigned kBase = 36;

std::wstring Base36(unsigned n) {
    std::wstring digits;
    do {
        digits.insert(digits.begin(), kDigits[n % kBase]);
        n /= kBase;
    } while (n);
    return digits;
}

// The n-th name of at most `limit` characters, or empty. The longest form
// that fits is used, so that a file left behind by a power cut says where it
// came from when the target's name allows. The forms cannot produce the same
// name twice: only the first holds a dot, only the last has one character.
std::wstring Candidate(unsigned n, std::size_t limit) {
    const std::wstring digits = Base36(n);
    std::wstring name = L"~hk4" + digits + L".tmp";
    if (name.size() <= limit) return name;
    name = L"~" + digits;
    if (name.size() <= limit) return name;
    if (limit == 1 && n <= kBase)
        return n == 0 ? std::wstring(L"~") : std::wstring(1, kDigits[n - 1]);
    return std::wstring();
}

wchar_t FoldAscii(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Candidates are ASCII; the system folds at least ASCII letters when it
// compares names.
bool SameName(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

}  // namespace

SiblingNames::SiblingNames(const std::wstring& target) {
    std::size_t split = target.find_last_of(L"\\/");
    if (split != std::wstring::npos) {
        ++split;
    } else if (target.size() >= 2 && target[1] == L':') {
        split = 2;  // "C:name", relative to the drive's current folder
    } else {
        split = 0;
    }
    folder_ = target.substr(0, split);
    name_ = target.substr(split);
}

std::wstring SiblingNames::Next() {
    while (next_ < kMaxCandidates) {
        const std::wstring name = Candidate(next_++, name_.size());
        if (name.empty()) break;
        if (!SameName(name, name_)) return folder_ + name;
    }
    next_ = kMaxCandidates;
    return std::wstring();
}

}  // namespace hk4
