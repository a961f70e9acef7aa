#include "storage/gpt_types.h"

#include <utility>

namespace brenvale::storage {

std::string Guid::toString() const {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (std::size_t i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        const std::uint8_t b = bytes[detail::kGuidDiskIndex[i]];
        out += kHex[b >> 4];
        out += kHex[b & 0x0F];
    }
    return out;
}

namespace {

// value() makes a mistyped row a compile-time error.
constexpr Guid guid(std::string_view text) {
    return Guid::parse(text).value();
}

// Compared in this order; the first match names the type.
constexpr std::pair<Guid, std::string_view> kGptTypeNames[] = {
    {guid("C12A7328-F81F-11D2-BA4B-00A0C93EC93B"), "ESP"},
    {guid("E3C9E316-0B5C-4DB8-817D-F92DF00215AE"), "MSR"},
    {guid("DE94BBA4-06D1-4D40-A16A-BFD50179D6AC"), "Recovery"},
    {guid("EBD0A0A2-B9E5-4433-87C0-68B6B72699C7"), "Basic Data"},
    {guid("5808C8AA-7E8F-42E0-85D2-E1E90434CFB3"), "LDM Metadata"},
    {guid("AF9B60A0-1431-4F62-BC68-3311714A69AD"), "LDM Data"},
    {guid("24D41741-1C9A-48B4-A4B2-F59D4B2A3A01"), "Rapid Start"},
    {guid("0FC63DAF-8483-4772-8E79-3D69D8477DE4"), "Linux"},
    {guid("0657FD6D-A4AB-43C4-84E5-0933C84B4F4F"), "Linux Swap"},
};

}  // namespace

std::string_view GptTypeName(const Guid& type) {
    for (const auto& [g, name] : kGptTypeNames) {
        if (g == type) return name;
    }
    return {};
}

}  // namespace brenvale::storage
