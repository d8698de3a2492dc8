#include "hostsim/trace.h"

#include <cstdarg>

namespace hostsim {

void Trace::Line(const std::string& text) {
    if (!enabled_) return;
    if (sink_) {
        sink_(text);
        if (text.compare(0, 6, "error:") != 0) return;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    lines_.push_back(text);
    if (echo_) {
        std::fputs(text.c_str(), echo_);
        std::fputc('\n', echo_);
        std::fflush(echo_);
    }
}

void Trace::Record(const std::string& line) {
    if (!record_) return;
    std::lock_guard<std::mutex> guard(mutex_);
    std::fputs(line.c_str(), record_);
    std::fputc('\n', record_);
}

std::vector<std::string> Trace::Lines() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return lines_;
}

std::size_t Trace::Size() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return lines_.size();
}

void Trace::Clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    lines_.clear();
}

Trace& TheTrace() {
    static Trace trace;
    return trace;
}

std::string Format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(&out[0], out.size() + 1, fmt, args);
    va_end(args);
    return out;
}

std::string Quote(const char* text) {
    if (text == nullptr) return "(null)";
    std::string out = "\"";
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        if (*p == '"') {
            out += '\\';
            out += static_cast<char>(*p);
        } else if (*p < 0x20 || *p >= 0x7f) {
            out += Format("\\x%02X", *p);
        } else {
            out += static_cast<char>(*p);
        }
    }
    return out + "\"";
}

}  // namespace hostsim
