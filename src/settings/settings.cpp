#include "settings/settings.h"

#include <cstring>

namespace hk4 {

const char* const SensitivityTable[kSensitivityEntries] = {
    "3,1", "4,2", "5,3", "6,4", "7,5", "9,6", "11,7", "15,8", "20,9", "25,10",
};

int SensitivityIndex(int vel) {
    if (vel < 0) return 0;
    if (vel >= kSensitivityEntries) return kSensitivityEntries - 1;
    return vel;
}

int SensitivityDivisor(int vel) {
    int n = 0;
    for (const char* p = SensitivityTable[SensitivityIndex(vel)]; *p >= '0' && *p <= '9'; ++p)
        n = n * 10 + (*p - '0');
    return n;
}

std::string SensitivityLabel(int index) {
    const char* entry = SensitivityTable[SensitivityIndex(index)];
    const char* comma = std::strchr(entry, ',');
    return comma ? std::string(comma + 1) : std::string();
}

}  // namespace hk4
