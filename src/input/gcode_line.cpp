#include "input/gcode_line.h"

#include <charconv>
#include <cstring>

namespace hk4 {

void GCodeLine::Clear() {
    length_ = 0;
    ok_ = true;
    text_[0] = '\0';
}

void GCodeLine::Append(const char* text) {
    const std::size_t n = std::strlen(text);
    if (!ok_ || n > kCapacity - length_) {
        ok_ = false;
        return;
    }
    std::memcpy(text_ + length_, text, n + 1);
    length_ += n;
}

void GCodeLine::Append(char c) {
    const char text[2] = {c, '\0'};
    Append(text);
}

void GCodeLine::AppendInt(int32_t value) {
    if (!ok_) return;
    const auto r = std::to_chars(text_ + length_, text_ + kCapacity, value);
    Commit(r.ptr, r.ec == std::errc());
}

void GCodeLine::AppendFixed4(double value) {
    if (!ok_) return;
    // to_chars with a precision rounds exactly as printf does in the "C"
    // locale, including "-0.0000" for negative values that round to zero.
    const auto r =
        std::to_chars(text_ + length_, text_ + kCapacity, value, std::chars_format::fixed, 4);
    Commit(r.ptr, r.ec == std::errc());
}

void GCodeLine::Commit(const char* end, bool fitted) {
    if (fitted) {
        length_ = static_cast<std::size_t>(end - text_);
    } else {
        ok_ = false;
    }
    text_[length_] = '\0';
}

void FormatStepLine(GCodeLine& line, char axisLetter, double distance) {
    line.Clear();
    line.Append("G91G1 ");
    line.Append(axisLetter);
    line.Append(' ');
    line.AppendFixed4(distance);
}

void FormatFeedStepLine(GCodeLine& line, int32_t feed, char axisLetter, double distance) {
    line.Clear();
    line.Append("G91G1 F");
    line.AppendInt(feed);
    line.Append(' ');
    line.Append(axisLetter);
    line.Append(' ');
    line.AppendFixed4(distance);
}

void FormatRotatedLine(GCodeLine& line, double x, double y) {
    line.Clear();
    line.Append("G91G1 X");
    line.AppendFixed4(x);
    line.Append(" Y");
    line.AppendFixed4(y);
    line.Append(' ');
}

}  // namespace hk4
