// Names for the short-lived files of a file replacement. They live in the
// target's folder, so that the replacement stays on one volume, and each
// full path is no longer than the target's own: every path that can be
// opened can also be replaced, whatever the system's path length limit.
#pragma once

#include <string>

namespace hk4 {

class SiblingNames {
  public:
    explicit SiblingNames(const std::wstring& target);

    // The next candidate path, never the target itself (names compare
    // without regard to case); empty when there are no more. A candidate may
    // name a file that already exists: the caller creates it exclusively and
    // asks for the next one.
    std::wstring Next();

    // Candidates a target offers at most (fewer for names of one character).
    static constexpr unsigned kMaxCandidates = 64;

  private:
    std::wstring folder_;  // up to and including the last separator
    std::wstring name_;
    unsigned next_ = 0;
};

}  // namespace hk4
