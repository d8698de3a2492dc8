// Long random report streams and host states through the decoder and the
// jog engine. Whatever the pendant sends and whatever the host holds, the
// plug-in must stay within its bounds: at most 127 steps a poll, writes only
// to the selected axis's jog record (and the message line), well-formed
// G-code only, and nothing at all while the wheel may not act.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <limits>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "unit/fake_host.h"

namespace hk4 {
namespace {

using testing::FakeHost;
using testing::InputRig;
using testing::Report;
using Log = std::vector<std::string>;

struct Range {
    std::size_t offset, size;
};

// Host bytes the plug-in may change on a poll with axis `a` selected.
std::vector<Range> AllowedMotionWrites(int a) {
    std::vector<Range> r;
    for (const std::size_t base : {163940u, 163944u, 163948u, 163960u})
        r.push_back({base + 96u * static_cast<std::size_t>(a), 4});
    for (const std::size_t base : {163954u, 163956u})
        r.push_back({base + 96u * static_cast<std::size_t>(a), 1});
    return r;
}

// Returns the first changed byte outside `allowed`, or -1. Whole pages are
// compared first: the blocks are large and most polls change nothing.
long FirstForeignChange(const std::vector<unsigned char>& before,
                        const std::vector<unsigned char>& after,
                        const std::vector<Range>& allowed) {
    constexpr std::size_t kPage = 4096;
    for (std::size_t page = 0; page < before.size(); page += kPage) {
        const std::size_t end = std::min(before.size(), page + kPage);
        if (std::memcmp(before.data() + page, after.data() + page, end - page) == 0) continue;
        for (std::size_t i = page; i < end; ++i) {
            if (before[i] == after[i]) continue;
            bool ok = false;
            for (const Range& r : allowed) ok = ok || (i >= r.offset && i < r.offset + r.size);
            if (!ok) return static_cast<long>(i);
        }
    }
    return -1;
}

class Random {
  public:
    explicit Random(uint64_t seed) : rng_(seed) {}
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }
    bool Chance(int percent) { return Below(100) < static_cast<uint32_t>(percent); }
    int32_t AnyInt32() { return static_cast<int32_t>(static_cast<uint32_t>(rng_())); }
    double AnyBits() {
        const uint64_t bits = rng_();
        double d;
        std::memcpy(&d, &bits, sizeof d);
        return d;
    }
    // Mostly sensible host values, sometimes the worst a host could hold.
    double Value(double typicalMax) {
        static const double specials[] = {0.0,
                                          -0.0,
                                          std::numeric_limits<double>::quiet_NaN(),
                                          std::numeric_limits<double>::infinity(),
                                          -std::numeric_limits<double>::infinity(),
                                          std::numeric_limits<double>::max(),
                                          -std::numeric_limits<double>::max(),
                                          std::numeric_limits<double>::denorm_min(),
                                          1e300,
                                          -1e-300};
        switch (Below(10)) {
            case 0:
                return specials[Below(std::size(specials))];
            case 1:
                return AnyBits();
            default:
                return (static_cast<double>(Below(2000001)) / 1000000.0 - 0.2) * typicalMax;
        }
    }
    int32_t Int(int32_t typicalMax) {
        if (Chance(10)) {
            static const int32_t specials[] = {0, -1, std::numeric_limits<int32_t>::max(),
                                               std::numeric_limits<int32_t>::min()};
            return specials[Below(std::size(specials))];
        }
        if (Chance(5)) return AnyInt32();
        return static_cast<int32_t>(Below(static_cast<uint32_t>(typicalMax) + 1));
    }

  private:
    std::mt19937_64 rng_;
};

// The host's blocks as the plug-in may have left them: the test writes every
// host field into both, and copies the plug-in's allowed writes across.
struct ShadowBlocks {
    std::vector<unsigned char> motion, options, planner, parent;
    Host host;
    explicit ShadowBlocks(const FakeHost& live)
        : motion(live.motion), options(live.options), planner(live.planner), parent(live.parent) {
        host.blocks = {motion.data(), options.data(), planner.data(), parent.data()};
    }
};

// Fills every block with a random pattern (so that a stray write of 0 shows),
// keeping the message-line string pointer.
void FillWithNoise(FakeHost& h, Random& rnd) {
    for (auto* block : {&h.motion, &h.options, &h.planner, &h.parent})
        for (std::size_t i = 0; i < block->size(); ++i)
            if (block != &h.planner || i < fields::StatusTextOffset ||
                i >= fields::StatusTextOffset + sizeof(void*))
                (*block)[i] = static_cast<unsigned char>(rnd.Below(256));
}

void RandomiseHost(FakeHost& h, const Host& shadow, Random& rnd) {
    const Host& live = h.host();
    auto put = [&](auto field, auto value) {
        live.write(field, value);
        shadow.write(field, value);
    };
    h.led[83] = rnd.Chance(90) ? 1 : 0;
    h.led[804] = rnd.Chance(5) ? 1 : 0;
    h.led[805] = rnd.Chance(5) ? 1 : 0;
    h.led[800] = rnd.Chance(50) ? 1 : 0;
    put(fields::MotionBusy,
        uint8_t{rnd.Chance(10) ? static_cast<uint8_t>(1 + rnd.Below(255)) : uint8_t{0}});
    const int32_t count = rnd.AnyInt32();
    put(fields::MotionCountA, count);
    put(fields::MotionCountB, rnd.Chance(85) ? count : rnd.AnyInt32());
    put(fields::StepSize, rnd.Value(0.1));
    put(fields::RotationAngle, rnd.Chance(60) ? 0.0 : rnd.Value(360.0));
    for (int a = 0; a < 6; ++a) {
        put(fields::AxisFullRate.at(a), rnd.Int(100000));
        put(fields::AxisJogParam.at(a), rnd.AnyInt32());
    }
    for (int dro : {3, 74, 818, 821}) h.dro[dro] = rnd.Value(dro == 3 ? 100.0 : 250.0);
    Settings& s = h.settings();
    s.Vel =
        rnd.Chance(80) ? static_cast<int16_t>(rnd.Below(10)) : static_cast<int16_t>(rnd.AnyInt32());
    s.StepJogRate = rnd.Chance(50) ? 0 : rnd.Int(500);
    s.DelaySteps = rnd.Int(100);
    s.PercentTime = rnd.Int(10);
}

Report RandomReport(Random& rnd, int& counter) {
    if (rnd.Chance(5))
        counter = static_cast<int>(rnd.Below(256));
    else
        counter = (counter + static_cast<int>(rnd.Below(41)) - 20 + 256) % 256;
    static const int flags[] = {0, 0, 0, 0, 0x10, 0x20, 0x30};
    // OFF (0) now and then, with or without the flag bits.
    const int position = rnd.Chance(10) ? 0 : static_cast<int>(1 + rnd.Below(5));
    const int axisByte =
        rnd.Chance(5) ? static_cast<int>(rnd.Below(256)) : position | flags[rnd.Below(7)];
    const int function = rnd.Chance(5)
                             ? static_cast<int>(rnd.Below(256))
                             : static_cast<int>(1 + rnd.Below(6)) | (rnd.Chance(10) ? 0x80 : 0);
    const int speed = rnd.Chance(30) ? 0 : static_cast<int>(rnd.Below(256));
    Report r(counter, speed, axisByte, function);
    for (const int i : {0, 5, 6, 7}) r.bytes[i] = static_cast<uint8_t>(rnd.Below(256));
    return r;
}

// What the jog record looked like whenever "DOJOG" arrived.
struct DoJogSeen {
    int axis;
    bool wellFormed;
};
std::vector<DoJogSeen> g_doJogs;
const InputInterpreter* g_input = nullptr;

void CheckRecordAtDoJog(FakeHost& f, const char* line) {
    if (std::strcmp(line, "DOJOG") != 0) return;
    const Host& h = f.host();
    const int a = g_input->AxisIndex();
    const bool ok =
        h.read(fields::JogStop.at(a)) == 0 && h.read(fields::JogStart.at(a)) == 1 &&
        h.read(fields::JogFullRate.at(a)) == h.read(fields::AxisFullRate.at(a)) &&
        h.read(fields::JogParam.at(a)) == h.read(fields::AxisJogParam.at(a)) &&
        (h.read(fields::JogDirection.at(a)) == 0 || h.read(fields::JogDirection.at(a)) == 1) &&
        h.read(fields::JogVelocity.at(a)) >= 1 &&
        h.read(fields::JogVelocity.at(a)) <= h.read(fields::AxisFullRate.at(a));
    g_doJogs.push_back({a, ok});
}

const std::regex kPlainLine(R"(G91G1 ([XYZAB]) -?[0-9]+\.[0-9]{4})");
const std::regex kFeedLine(R"(G91G1 F(-?[0-9]+) ([XYZAB]) -?[0-9]+\.[0-9]{4})");
const std::regex kRotatedLine(R"(G91G1 X-?[0-9]+\.[0-9]{4} Y-?[0-9]+\.[0-9]{4} )");

TEST(InputProperties, RandomStreamsStayWithinBounds) {
    constexpr int kSeeds = 12;
    constexpr int kPolls = 3000;
    const char letters[] = "XYZAB";
    long lines = 0, doJogs = 0, moves = 0;
    for (int seed = 1; seed <= kSeeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Random rnd(static_cast<uint64_t>(seed) * 7919u);
        InputRig rig;
        rig.host.codeHook = &CheckRecordAtDoJog;
        g_input = &rig.input;
        int counter = 0;
        FillWithNoise(rig.host, rnd);
        ShadowBlocks shadow(rig.host);
        const std::vector<Range> statusPointer = {{fields::StatusTextOffset, sizeof(void*)}};
        // Whole blocks: nothing but the allowed bytes may differ from the shadow.
        auto expectWholeBlocksUntouched = [&](const std::string& where) {
            ASSERT_EQ(FirstForeignChange(shadow.options, rig.host.options, {}), -1) << where;
            ASSERT_EQ(FirstForeignChange(shadow.planner, rig.host.planner, statusPointer), -1)
                << where;
            ASSERT_EQ(FirstForeignChange(shadow.parent, rig.host.parent, {}), -1) << where;
        };
        RandomiseHost(rig.host, shadow.host, rnd);
        int openJogAxis = -1;  // the axis of the last "DOJOG" not yet ended
        for (int poll = 0; poll < kPolls; ++poll) {
            if (rnd.Chance(10)) {
                ASSERT_NO_FATAL_FAILURE(expectWholeBlocksUntouched("before host change at poll " +
                                                                   std::to_string(poll)));
                RandomiseHost(rig.host, shadow.host, rnd);
            }
            if (rnd.Chance(20)) rig.shared.RestoreAbsolute = !rig.shared.RestoreAbsolute;
            if (rnd.Chance(3)) rig.shared.TabTicks = rnd.AnyInt32();
            rig.host.Update(static_cast<int>(rnd.Below(3)));
            rig.host.ClearStatus();

            const double before3 = rig.host.dro[3], before74 = rig.host.dro[74],
                         before821 = rig.host.dro[821];
            g_doJogs.clear();
            const OverrideSnapshot snapshot = rig.input.Jog().Snapshot;
            const Report report = RandomReport(rnd, counter);
            rig.Poll(report);
            const int a = rig.input.AxisIndex();
            const std::vector<std::string> log = rig.host.TakeLog();
            const std::string where = "poll " + std::to_string(poll);

            ASSERT_GE(rig.input.WheelSteps(), 0) << where;
            ASSERT_LE(rig.input.WheelSteps(), 127) << where;
            ASSERT_TRUE(rig.input.WheelDirection() == 0 || rig.input.WheelDirection() == 1);
            ASSERT_GE(a, 0);
            ASSERT_LE(a, 4);
            ASSERT_GE(rig.input.WheelMode(), 1);
            ASSERT_LE(rig.input.WheelMode(), 6);

            // The motion block on every poll: only the selected axis's jog
            // record, and the stop flag of a jog left running on another axis.
            std::vector<Range> allowed = AllowedMotionWrites(a);
            if (openJogAxis >= 0)
                allowed.push_back({fields::JogStop.at(openJogAxis).offset, sizeof(uint8_t)});
            ASSERT_EQ(FirstForeignChange(shadow.motion, rig.host.motion, allowed), -1) << where;
            for (const Range& r : allowed)
                std::memcpy(shadow.motion.data() + r.offset, rig.host.motion.data() + r.offset,
                            r.size);
            std::memcpy(shadow.planner.data() + fields::StatusTextOffset,
                        rig.host.planner.data() + fields::StatusTextOffset, sizeof(void*));
            const std::string status = rig.host.StatusText();
            ASSERT_TRUE(status.empty() || status == " Jog OFF. ") << where;

            // Off an axis (and with the inhibit switch on) the wheel drives
            // no host call: only the end of a running jog may go out.
            const int position = report.bytes[3] & ~0x30;
            const bool offAxis = position != rig.input.AxisIndex() + 1;
            ASSERT_EQ(rig.input.OffAxis(), offAxis) << where;
            const bool mayAct = !rig.input.JogInhibit() && !offAxis &&
                                rig.host.host().read(fields::MotionBusy) == 0;
            if (offAxis) {
                ASSERT_TRUE(status.empty()) << where;
                ASSERT_EQ(rig.input.WheelSteps(), 0) << where;
            }
            const int mode = rig.input.WheelMode();
            bool lastWasMove = false;
            bool firstModeDroWrite = true;
            bool restoreSeen = false;  // the snapshot restore writes 818 first
            for (const std::string& e : log) {
                int n = 0;
                double v = 0.0;
                if (std::sscanf(e.c_str(), "DoButton %d", &n) == 1) {
                    ASSERT_TRUE(n == 1021 || (n >= 334 && n <= 338) || n == 323) << e;
                    // No button action without the button held.
                    if (n == 1021) {
                        ASSERT_NE(report.bytes[3] & 0x20, 0) << where;
                    }
                    if (!mayAct) {
                        ASSERT_NE(n, 323) << e;
                    }
                    lastWasMove = false;
                    continue;
                }
                if (std::sscanf(e.c_str(), "SetDRO %d %lf", &n, &v) == 2) {
                    ASSERT_TRUE(n == 3 || n == 74 || n == 818 || n == 821) << e;
                    // Never a value that is not a finite number.
                    ASSERT_TRUE(e.find("inf") == std::string::npos &&
                                e.find("nan") == std::string::npos)
                        << where << ": " << e;
                    if (!mayAct) {
                        ASSERT_TRUE(n == 818 || n == 821) << where << ": " << e;
                    }
                    const int modeDro = mode == 4 ? 3 : mode == 5 ? 821 : mode == 6 ? 74 : 0;
                    // The restore writes 818 first (unless it held no finite value).
                    if (n == 818 || (n == 821 && snapshot.Overrode821 && v == snapshot.Saved821))
                        restoreSeen = true;
                    if (n == modeDro && firstModeDroWrite && !restoreSeen) {
                        firstModeDroWrite = false;
                        const double before = n == 3 ? before3 : n == 74 ? before74 : before821;
                        const double lower = n == 3 ? 0.1 : 1.0, upper = n == 3 ? 100.0 : 250.0;
                        if (before >= lower && before <= upper) {
                            ASSERT_TRUE(v >= lower && v <= upper) << where << ": " << e;
                        }
                    }
                    lastWasMove = false;
                    continue;
                }
                ASSERT_EQ(e.rfind("Code ", 0), 0u) << e;
                const std::string line = e.substr(5);
                ++lines;
                std::smatch m;
                if (line == "G90") {
                    ASSERT_TRUE(lastWasMove) << where << ": G90 without a move";
                    ASSERT_TRUE(rig.shared.RestoreAbsolute);
                    lastWasMove = false;
                    continue;
                }
                if (line == "ENDJOG" && openJogAxis >= 0) {
                    // Ends a running jog, also when the wheel may not act now.
                    openJogAxis = -1;
                    lastWasMove = false;
                    continue;
                }
                ASSERT_TRUE(mayAct) << where << ": " << e;
                if (line == "DOJOG") openJogAxis = a;
                if (line == "DOJOG" || line == "ENDJOG") {
                    ASSERT_TRUE(mode == 2 || mode == 3) << where << ": " << e;
                    lastWasMove = false;
                    continue;
                }
                ASSERT_EQ(mode, 1) << where << ": " << e;
                ASSERT_GT(rig.input.WheelSteps(), 0) << where;
                ++moves;
                lastWasMove = true;
                if (std::regex_match(line, m, kRotatedLine)) {
                    ASSERT_TRUE(a == 0 || a == 1) << where << ": " << e;
                } else if (std::regex_match(line, m, kFeedLine)) {
                    ASSERT_EQ(m[1].str(), std::to_string(rig.host.settings().StepJogRate)) << e;
                    ASSERT_GT(rig.host.settings().StepJogRate, 0) << e;
                    ASSERT_EQ(m[2].str()[0], letters[a]) << e;
                } else if (std::regex_match(line, m, kPlainLine)) {
                    ASSERT_LE(rig.host.settings().StepJogRate, 0) << e;
                    ASSERT_EQ(m[1].str()[0], letters[a]) << e;
                } else {
                    FAIL() << where << ": malformed line \"" << line << "\"";
                }
            }
            for (const DoJogSeen& d : g_doJogs) {
                ASSERT_TRUE(d.wellFormed) << where;
                ++doJogs;
            }
        }
        ASSERT_NO_FATAL_FAILURE(expectWholeBlocksUntouched("end of stream"));
    }
    // The streams must really have exercised the engine.
    EXPECT_GT(lines, 1000);
    EXPECT_GT(moves, 200);
    EXPECT_GT(doJogs, 200);
}

// The host's view of continuous jogs: "DOJOG" starts the jog of each axis
// whose record asks for a start (the host then clears JogStart); "ENDJOG"
// ends every jog, a JogStop of 1 its axis's.
unsigned g_runningAxes = 0;
void HostStartsJogs(FakeHost& f, const char* line) {
    const Host& h = f.host();
    if (std::strcmp(line, "ENDJOG") == 0) g_runningAxes = 0;
    if (std::strcmp(line, "DOJOG") != 0) return;
    for (int a = 0; a < 6; ++a) {
        if (h.read(fields::JogStart.at(a)) != 1) continue;
        h.write(fields::JogStart.at(a), uint8_t{0});
        if (h.read(fields::JogStop.at(a)) == 0) g_runningAxes |= 1u << a;
    }
}

// Whatever the host's cycle (0 to 5 Update calls between two polls), its jog
// switch, its busy flags and the settings do, no jog the wheel started runs
// after the 4th poll without wheel steps, and off an axis the wheel sends
// nothing but the end of a running jog.
TEST(InputProperties, ContinuousJogsNeverOutliveTheWheel) {
    constexpr int kSeeds = 16;
    constexpr int kPolls = 4000;
    long jogsStarted = 0, endedByRest = 0, offPolls = 0;
    for (int seed = 1; seed <= kSeeds; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Random rnd(static_cast<uint64_t>(seed) * 104729u);
        InputRig rig;
        rig.host.codeHook = &HostStartsJogs;
        g_runningAxes = 0;
        const Host& h = rig.host.host();
        for (int a = 0; a < 6; ++a) h.write(fields::AxisFullRate.at(a), int32_t{6000});
        rig.host.dro[3] = 50.0;
        int counter = 0, function = 2, position = 1, flags = 0, speed = 0, burst = 0, quiet = 0;
        int direction = 1, startedIn = 0;
        for (int poll = 0; poll < kPolls; ++poll) {
            const std::string where = "poll " + std::to_string(poll);
            rig.host.Update(static_cast<int>(rnd.Below(6)));
            if (rnd.Chance(4)) rig.host.led[83] = rig.host.led[83] ? 0 : 1;
            if (rnd.Chance(3))
                h.write(fields::MotionBusy, uint8_t{rnd.Chance(10) ? uint8_t{1} : uint8_t{0}});
            if (rnd.Chance(3)) h.write(fields::MotionCountA, int32_t(rnd.Below(2)));
            if (rnd.Chance(2)) rig.host.settings().DelaySteps = static_cast<int32_t>(rnd.Below(8));
            if (rnd.Chance(5))
                function = rnd.Chance(80) ? 2 + static_cast<int>(rnd.Below(2))
                                          : 1 + static_cast<int>(rnd.Below(6));
            if (rnd.Chance(5)) position = static_cast<int>(rnd.Below(6));  // 0 is OFF
            if (rnd.Chance(3)) flags = rnd.Chance(70) ? 0 : rnd.Chance(50) ? 0x10 : 0x20;
            // The wheel turns in bursts; the speed byte sometimes lingers
            // after it stops, as a pendant's may.
            if (burst > 0) {
                --burst;
                if (rnd.Chance(10)) direction = -direction;
                counter = (counter + direction * (1 + static_cast<int>(rnd.Below(6))) + 256) % 256;
                speed = 1 + static_cast<int>(rnd.Below(120));
            } else {
                if (rnd.Chance(60)) speed = 0;
                if (rnd.Chance(15)) burst = 1 + static_cast<int>(rnd.Below(20));
            }
            const unsigned before = g_runningAxes;
            rig.Poll(Report(counter, speed, position | flags, function));
            const Log log = rig.host.TakeLog();
            for (int a = 0; a < 6; ++a)
                if (h.read(fields::JogStop.at(a)) == 1) g_runningAxes &= ~(1u << a);
            if (g_runningAxes & ~before) ++jogsStarted;

            // A jog runs only on the axis the selector stands on, in the
            // function that started it, with the host's jog switch on.
            if (std::find(log.begin(), log.end(), "Code DOJOG") != log.end())
                startedIn = rig.input.WheelMode();
            if (g_runningAxes != 0) {
                ASSERT_EQ(h.read(fields::MotionBusy), 0)
                    << where << ": a jog the host forbids runs";
                // Never against the wheel past the poll that turned it back.
                if (rig.input.WheelSteps() != 0) {
                    ASSERT_EQ(h.read(fields::JogDirection.at(rig.input.AxisIndex())),
                              rig.input.WheelDirection())
                        << where;
                }
                ASSERT_EQ(g_runningAxes, 1u << rig.input.AxisIndex()) << where;
                ASSERT_EQ(position | flags, (rig.input.AxisIndex() + 1) | (flags & 0x20)) << where;
                ASSERT_TRUE(rig.host.led[83]) << where << ": a jog runs with the jog switch off";
                ASSERT_EQ(rig.input.WheelMode(), startedIn) << where;
            }

            quiet = rig.input.WheelSteps() == 0 ? quiet + 1 : 0;
            if (quiet >= 4) {
                ASSERT_EQ(g_runningAxes, 0u)
                    << where << ": a jog runs after " << quiet << " polls without wheel steps";
                if (before != 0 && quiet == 4) ++endedByRest;
            }
            if (position == 0) {  // OFF, whatever the flag bits
                ++offPolls;
                ASSERT_EQ(rig.input.WheelSteps(), 0) << where;
                for (const std::string& e : log) {
                    if (e == "Code ENDJOG" || e.rfind("SetDRO 818", 0) == 0 ||
                        e.rfind("SetDRO 821", 0) == 0 || e == "DoButton 1021")
                        continue;  // a jog's end, the snapshot restore, the button
                    // Selector codes for the axis left or a function change.
                    if (e.rfind("DoButton 33", 0) == 0 && e != "DoButton 339") continue;
                    FAIL() << where << ": off an axis the wheel sent " << e;
                }
                ASSERT_EQ(g_runningAxes, 0u) << where;
            }
        }
    }
    EXPECT_GT(jogsStarted, 500);
    EXPECT_GT(endedByRest, 5);  // a busy host or a slowing wheel ends many first
    EXPECT_GT(offPolls, 1000);
}

}  // namespace
}  // namespace hk4
