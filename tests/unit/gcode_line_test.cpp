// The step-jog lines must be exactly what C's printf makes of the formats,
// for any double the host can hold, and must not follow the process locale.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "input/gcode_line.h"

namespace hk4 {
namespace {

std::string Printf(const char* format, double a, double b = 0.0) {
    const int n = std::snprintf(nullptr, 0, format, a, b);
    std::string s(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(s.data(), s.size(), format, a, b);
    s.resize(static_cast<std::size_t>(n));
    return s;
}

std::string Fixed4(double v) {
    GCodeLine line;
    line.AppendFixed4(v);
    EXPECT_TRUE(line.ok());
    return line.c_str();
}

TEST(GCodeLine, FixedFourDecimalsMatchesPrintf) {
    const double max = std::numeric_limits<double>::max();
    const double values[] = {0.0,
                             -0.0,
                             -0.00001,  // rounds to zero, keeps its sign as printf does
                             0.00005,
                             0.00015,
                             0.03125,  // exact binary tie
                             -0.03125,
                             0.0500,
                             -0.0030,
                             1.00005,
                             2.5e-5,
                             123456789.123456,
                             9.99995,
                             -9.99995,
                             1e22,
                             1e300,
                             max,
                             -max,
                             std::numeric_limits<double>::min(),
                             std::numeric_limits<double>::denorm_min(),
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN()};
    for (double v : values) EXPECT_EQ(Fixed4(v), Printf("%.4f", v)) << v;
}

TEST(GCodeLine, RandomDoublesMatchPrintf) {
    std::mt19937_64 rng(20240601);
    std::uniform_int_distribution<int> exponent(-20, 40);
    for (int i = 0; i < 20000; ++i) {
        // Short decimals (likely ties) and arbitrary bit patterns alike.
        double v;
        if (i % 2 == 0) {
            v = static_cast<double>(static_cast<int64_t>(rng() % 2000001) - 1000000) /
                std::pow(10.0, static_cast<double>(rng() % 8));
        } else {
            v = std::ldexp(static_cast<double>(rng() >> 11) / 9007199254740992.0, exponent(rng));
            if (rng() & 1) v = -v;
        }
        ASSERT_EQ(Fixed4(v), Printf("%.4f", v)) << v;
    }
}

TEST(GCodeLine, TheThreeFormats) {
    GCodeLine line;
    FormatStepLine(line, 'Z', -0.003);
    EXPECT_STREQ(line.c_str(), "G91G1 Z -0.0030");
    FormatFeedStepLine(line, 100, 'X', 0.05);
    EXPECT_STREQ(line.c_str(), "G91G1 F100 X 0.0500");
    FormatFeedStepLine(line, std::numeric_limits<int32_t>::min(), 'B', 1.0);
    EXPECT_STREQ(line.c_str(), "G91G1 F-2147483648 B 1.0000");
    FormatRotatedLine(line, 0.8660254, -0.5);
    EXPECT_STREQ(line.c_str(), "G91G1 X0.8660 Y-0.5000 ");
}

TEST(GCodeLine, LongestValuesFitWithoutTruncation) {
    const double max = std::numeric_limits<double>::max();
    GCodeLine line;
    FormatRotatedLine(line, -max, -max);
    ASSERT_TRUE(line.ok());
    EXPECT_EQ(std::string(line.c_str()), Printf("G91G1 X%.4f Y%.4f ", -max, -max));
    FormatFeedStepLine(line, std::numeric_limits<int32_t>::min(), 'C', -max);
    ASSERT_TRUE(line.ok());
    EXPECT_EQ(std::string(line.c_str()), "G91G1 F-2147483648 C " + Printf("%.4f", -max));
}

TEST(GCodeLine, RefusesRatherThanOverflows) {
    GCodeLine line;
    const std::string chunk(100, 'x');
    for (int i = 0; i < 20; ++i) line.Append(chunk.c_str());
    EXPECT_FALSE(line.ok());
    EXPECT_LE(line.size(), GCodeLine::kCapacity);
    EXPECT_EQ(std::strlen(line.c_str()), line.size());
    line.AppendFixed4(1.0);  // stays refused
    EXPECT_FALSE(line.ok());
    line.Clear();
    EXPECT_TRUE(line.ok());
    EXPECT_STREQ(line.c_str(), "");
}

// A locale whose decimal separator is a comma, built on the fly when the
// machine has none installed. Skips when it cannot be had.
class CommaLocale : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr) {
            char dir[] = "/tmp/hk4-locale-XXXXXX";
            if (mkdtemp(dir) == nullptr) GTEST_SKIP() << "no temporary directory";
            dir_ = dir;
            const std::string cmd =
                "localedef -i de_DE -f UTF-8 " + dir_ + "/de_DE.UTF-8 >/dev/null 2>&1";
            if (std::system(cmd.c_str()) != 0) GTEST_SKIP() << "no localedef for de_DE";
            setenv("LOCPATH", dir_.c_str(), 1);
            if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr)
                GTEST_SKIP() << "de_DE locale not available";
        }
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.1f", 1.5);
        ASSERT_STREQ(probe, "1,5");  // the locale really uses a comma
    }
    void TearDown() override {
        std::setlocale(LC_NUMERIC, "C");
        if (!dir_.empty()) {
            unsetenv("LOCPATH");
            std::system(("rm -rf " + dir_).c_str());
        }
    }
    std::string dir_;
};

TEST_F(CommaLocale, DecimalPointStaysAPoint) {
    GCodeLine line;
    FormatStepLine(line, 'X', 1.5);
    EXPECT_STREQ(line.c_str(), "G91G1 X 1.5000");
    FormatRotatedLine(line, -0.25, 2.0);
    EXPECT_STREQ(line.c_str(), "G91G1 X-0.2500 Y2.0000 ");
}

}  // namespace
}  // namespace hk4
