// The simulator's trace: one event per line, stable and diff-friendly.
//   > Entry args            the host called a plug-in entry point
//   = result                what an entry point (or a message) returned
//   < Callback args         the plug-in called back into the host, or wrote
//                           a host field ("< write JogStop[0] = 1")
//   ! Call args -> result   the plug-in called the system (device, event,
//                           timer and notification functions)
//   ~ text                  the virtual system did something (tick, report,
//                           read completion, unplug, device broadcast)
//   # text                  a note from the simulator itself
//   error: text             a fault the simulator detected
#pragma once

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace hostsim {

class Trace {
  public:
    void Line(const std::string& text);
    std::vector<std::string> Lines() const;
    std::size_t Size() const;
    void Clear();
    void SetEcho(std::FILE* out) { echo_ = out; }
    // A disabled trace keeps nothing (the bench runs without it).
    void SetEnabled(bool on) { enabled_ = on; }
    bool Enabled() const { return enabled_; }
    // While a sink is set, lines go to it instead of being kept and echoed
    // (a soak of a hundred thousand ticks watches its trace this way);
    // faults ("error:") are kept all the same.
    void SetSink(std::function<void(const std::string&)> sink) { sink_ = std::move(sink); }
    // The record: the host callbacks alone, with values to the last bit, for
    // comparing what two builds of the plug-in computed from the same input.
    // Kept through a sink too.
    void SetRecord(std::FILE* out) { record_ = out; }
    bool Recording() const { return record_ != nullptr; }
    void Record(const std::string& line);

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    std::FILE* echo_ = nullptr;
    bool enabled_ = true;
    std::function<void(const std::string&)> sink_;
    std::FILE* record_ = nullptr;
};

Trace& TheTrace();

// printf-style formatting into a std::string.
std::string Format(const char* fmt, ...)
#if defined(__MINGW32__)
    __attribute__((format(gnu_printf, 1, 2)))
#elif defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// A text as the trace shows it: in double quotes, with " as \" and control
// characters as \xNN. Backslashes stand as they are, so that device paths
// read as they are written.
std::string Quote(const char* text);

}  // namespace hostsim
