// The step-jog command lines, formatted as C's printf would with the formats
// "G91G1 %s %.4f", "G91G1 F%d %s %.4f" and "G91G1 X%.4f Y%.4f ", but always
// with "." as the decimal separator (the host process may have set any
// locale) and without touching the heap, so the polling tick never allocates.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hk4 {

// Longest "%.4f" text of any double: sign, 309 integer digits of DBL_MAX,
// the point and four decimals.
inline constexpr std::size_t kMaxFixed4Length = 1 + 309 + 1 + 4;

// A line buffer that holds the longest line any of the formats can produce.
// Appends past its end are refused rather than written.
class GCodeLine {
  public:
    static constexpr std::size_t kCapacity = 16 + 2 * kMaxFixed4Length;

    const char* c_str() const { return text_; }
    std::size_t size() const { return length_; }
    // False when something did not fit; the text is then incomplete.
    bool ok() const { return ok_; }

    void Clear();
    void Append(const char* text);
    void Append(char c);
    void AppendInt(int32_t value);    // as "%d"
    void AppendFixed4(double value);  // as "%.4f"

  private:
    // Takes the end of a conversion written at the end of the text; a
    // conversion that did not fit marks the whole line as not formed.
    void Commit(const char* end, bool fitted);

    char text_[kCapacity + 1] = {};
    std::size_t length_ = 0;
    bool ok_ = true;
};

// "G91G1 %s %.4f" with (axis letter, distance).
void FormatStepLine(GCodeLine& line, char axisLetter, double distance);
// "G91G1 F%d %s %.4f" with (feed, axis letter, distance).
void FormatFeedStepLine(GCodeLine& line, int32_t feed, char axisLetter, double distance);
// "G91G1 X%.4f Y%.4f " with (x, y); the trailing blank is part of the line.
void FormatRotatedLine(GCodeLine& line, double x, double y);

}  // namespace hk4
