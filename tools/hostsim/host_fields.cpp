#include "hostsim/host_fields.h"

#include <cstdint>

#include "hostsim/trace.h"

namespace hostsim {

namespace {

using Type = NamedField::Type;

template <typename T>
constexpr Type TypeOf();
template <>
constexpr Type TypeOf<int32_t>() {
    return Type::I32;
}
template <>
constexpr Type TypeOf<uint8_t>() {
    return Type::U8;
}
template <>
constexpr Type TypeOf<double>() {
    return Type::F64;
}

template <typename T>
void Add(std::vector<NamedField>& out, const char* name, hk4::Field<T> f) {
    out.push_back(NamedField{name, f.block, f.offset, TypeOf<T>()});
}

template <typename T>
void Add(std::vector<NamedField>& out, const char* name, hk4::AxisField<T> f) {
    for (int a = 0; a < hk4::AxisField<T>::kAxes; ++a) {
        const hk4::Field<T> one = f.at(a);
        out.push_back(NamedField{Format("%s[%d]", name, a), one.block, one.offset, TypeOf<T>()});
    }
}

}  // namespace

const std::vector<NamedField>& HostFields() {
    static const std::vector<NamedField> fields = [] {
        namespace f = hk4::fields;
        std::vector<NamedField> out;
        Add(out, "MotionCountA", f::MotionCountA);
        Add(out, "MotionCountB", f::MotionCountB);
        Add(out, "MotionBusy", f::MotionBusy);
        Add(out, "JogVelocity", f::JogVelocity);
        Add(out, "JogFullRate", f::JogFullRate);
        Add(out, "JogParam", f::JogParam);
        Add(out, "JogStop", f::JogStop);
        Add(out, "JogStart", f::JogStart);
        Add(out, "JogDirection", f::JogDirection);
        Add(out, "NoAbsoluteRestore", f::NoAbsoluteRestore);
        Add(out, "RotationAngle", f::RotationAngle);
        Add(out, "PlannerCountA", f::PlannerCountA);
        Add(out, "PlannerCountB", f::PlannerCountB);
        Add(out, "PlannerBusy", f::PlannerBusy);
        Add(out, "AxisFullRate", f::AxisFullRate);
        Add(out, "AxisJogParam", f::AxisJogParam);
        Add(out, "StepSize", f::StepSize);
        return out;
    }();
    return fields;
}

const NamedField* FindHostField(const std::string& name) {
    for (const NamedField& f : HostFields())
        if (f.name == name) return &f;
    return nullptr;
}

double ReadField(const hk4::Host& host, const NamedField& f) {
    switch (f.type) {
        case Type::I32:
            return host.read(hk4::Field<int32_t>{f.block, f.offset});
        case Type::U8:
            return host.read(hk4::Field<uint8_t>{f.block, f.offset});
        case Type::F64:
            return host.read(hk4::Field<double>{f.block, f.offset});
    }
    return 0.0;
}

void WriteField(const hk4::Host& host, const NamedField& f, double value) {
    switch (f.type) {
        case Type::I32:
            host.write(hk4::Field<int32_t>{f.block, f.offset}, static_cast<int32_t>(value));
            break;
        case Type::U8:
            host.write(hk4::Field<uint8_t>{f.block, f.offset}, static_cast<uint8_t>(value));
            break;
        case Type::F64:
            host.write(hk4::Field<double>{f.block, f.offset}, value);
            break;
    }
}

std::string FieldText(const hk4::Host& host, const NamedField& f, int digits) {
    switch (f.type) {
        case Type::I32:
            return Format("%d", host.read(hk4::Field<int32_t>{f.block, f.offset}));
        case Type::U8:
            return Format("%u", host.read(hk4::Field<uint8_t>{f.block, f.offset}));
        case Type::F64:
            return Format("%.*g", digits, host.read(hk4::Field<double>{f.block, f.offset}));
    }
    return std::string();
}

void FieldWatch::Take(const hk4::Host& host) {
    values_.clear();
    for (const NamedField& f : HostFields()) values_.push_back(FieldText(host, f, digits_));
}

std::vector<std::string> FieldWatch::Changes(const hk4::Host& host) {
    std::vector<std::string> out;
    if (values_.size() != HostFields().size()) Take(host);
    for (std::size_t i = 0; i < HostFields().size(); ++i) {
        std::string now = FieldText(host, HostFields()[i], digits_);
        if (now != values_[i]) {
            out.push_back("< write " + HostFields()[i].name + " = " + now);
            values_[i] = std::move(now);
        }
    }
    return out;
}

}  // namespace hostsim
