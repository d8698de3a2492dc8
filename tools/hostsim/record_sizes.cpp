#include "hostsim/record_sizes.h"

#include <windows.h>
#include <dbt.h>
#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

#include <cstddef>

namespace hostsim {

namespace {

struct Record {
    const char* name;
    std::size_t size;
};

// The records whose sizes appear in the trace, and a pointer for the
// address-sized fields.
const Record kRecords[] = {
    {"SP_DEVICE_INTERFACE_DATA", sizeof(SP_DEVICE_INTERFACE_DATA)},
    {"SP_DEVICE_INTERFACE_DETAIL_DATA_A", sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)},
    {"HIDD_ATTRIBUTES", sizeof(HIDD_ATTRIBUTES)},
    {"DEV_BROADCAST_DEVICEINTERFACE_A", sizeof(DEV_BROADCAST_DEVICEINTERFACE_A)},
    {"OVERLAPPED", sizeof(OVERLAPPED)},
    {"void*", sizeof(void*)},
};

}  // namespace

bool ExpandRecordSizes(const std::string& line, std::string& out, std::string& error) {
    static const std::string kOpen = "sizeof(";
    out.clear();
    std::size_t from = 0;
    for (;;) {
        const std::size_t at = line.find(kOpen, from);
        if (at == std::string::npos) break;
        const std::size_t close = line.find(')', at + kOpen.size());
        if (close == std::string::npos) {
            error = "unclosed sizeof(";
            return false;
        }
        const std::string name = line.substr(at + kOpen.size(), close - at - kOpen.size());
        const Record* found = nullptr;
        for (const Record& r : kRecords)
            if (name == r.name) found = &r;
        if (!found) {
            error = "no record size for " + name;
            return false;
        }
        out += line.substr(from, at - from) + std::to_string(found->size);
        from = close + 1;
    }
    out += line.substr(from);
    return true;
}

}  // namespace hostsim
