// The named fields of the host blocks, so that the simulator can set them by
// name and trace every change the plug-in makes to them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "plugin/host.h"

namespace hostsim {

struct NamedField {
    enum class Type { I32, U8, F64 };
    std::string name;  // "JogStop[0]" for per-axis fields
    hk4::Block block;
    std::size_t offset;
    Type type;
};

// Every field of plugin/host.h, the per-axis ones once per axis (0 to 5).
const std::vector<NamedField>& HostFields();

// The field called `name`, or null.
const NamedField* FindHostField(const std::string& name);

// Reads and writes a field as a double (integers are converted).
double ReadField(const hk4::Host& host, const NamedField& f);
void WriteField(const hk4::Host& host, const NamedField& f, double value);
// Doubles to `digits` significant digits (17: every bit).
std::string FieldText(const hk4::Host& host, const NamedField& f, int digits = 10);

// Remembers the field values and tells which changed since.
class FieldWatch {
  public:
    explicit FieldWatch(int digits = 10) : digits_(digits) {}
    void Take(const hk4::Host& host);
    // "< write NAME = VALUE" for each field that changed, in table order;
    // the new values become the remembered ones.
    std::vector<std::string> Changes(const hk4::Host& host);

  private:
    int digits_;
    std::vector<std::string> values_;
};

}  // namespace hostsim
