// The simulator's trace: one event per line, stable and diff-friendly.
//   > Entry args            the host called a plug-in entry point
//   < Callback args         the plug-in called back into the host
//   = result                what an entry point returned
//   # text                  a note from the simulator itself
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace hostsim {

class Trace {
  public:
    void Line(const std::string& text);
    const std::vector<std::string>& Lines() const { return lines_; }
    void Clear() { lines_.clear(); }
    void SetEcho(std::FILE* out) { echo_ = out; }

  private:
    std::vector<std::string> lines_;
    std::FILE* echo_ = nullptr;
};

Trace& TheTrace();

// printf-style formatting into a std::string.
std::string Format(const char* fmt, ...);

// A text as the trace shows it: in double quotes, with \ and " escaped and
// control characters as \xNN.
std::string Quote(const char* text);

}  // namespace hostsim
