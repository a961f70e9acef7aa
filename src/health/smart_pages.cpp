#include "health/smart_pages.h"

#include <cstring>
#include <map>

#include "health/smart_records.h"
#include "storage/le.h"

namespace brenvale::health {

namespace {

constexpr std::uint8_t kMinRevision = 1, kMaxRevision = 16;
constexpr int kMinUsedSlots = 3;
constexpr int kMinModelChars = 3;

template <class Record>
std::optional<Record> copyRecord(std::span<const std::byte> bytes) {
    if (bytes.size() < sizeof(Record)) return std::nullopt;
    Record r;
    std::memcpy(&r, bytes.data(), sizeof(Record));
    return r;
}

std::uint64_t raw48(const std::uint8_t (&raw)[6]) {
    std::uint64_t v = 0;
    for (int i = 5; i >= 0; --i) v = (v << 8) | raw[i];
    return v;
}

bool printable(std::uint8_t c) { return c >= 0x20 && c < 0x7F; }

std::string trimmed(std::string s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(' ');
    return s.substr(first, last - first + 1);
}

// A text field; `swapped` fields keep two characters per word with the first in the high
// byte. Zeros end the text; other unprintable bytes become blanks.
std::string field(std::span<const std::byte> data, std::size_t off, std::size_t len, bool swapped) {
    std::string s;
    for (std::size_t i = 0; i < len; ++i) {
        const std::size_t at = swapped ? off + (i ^ 1) : off + i;
        const std::uint8_t c = storage::u8(data, at);
        if (c == 0) continue;
        s += printable(c) ? static_cast<char>(c) : ' ';
    }
    return trimmed(std::move(s));
}

// Counts printable characters of a model field; false when anything else but zeros is there.
bool plausibleModel(std::span<const std::byte> data, std::size_t off, std::size_t len) {
    int chars = 0;
    for (std::size_t i = 0; i < len; ++i) {
        const std::uint8_t c = storage::u8(data, off + i);
        if (c == 0) continue;
        if (!printable(c)) return false;
        if (c != ' ') ++chars;
    }
    return chars >= kMinModelChars;
}

}  // namespace

bool ValidSmartData(std::span<const std::byte> page) {
    const auto p = copyRecord<TSmartDataPage>(page);
    if (!p) return false;
    const std::uint8_t revision = p->Revision & 0xFF;
    if (revision < kMinRevision || revision > kMaxRevision || (p->Revision >> 8) != 0) return false;
    int used = 0;
    for (const TSmartAttributeEntry& e : p->Entries) used += e.Id != 0;
    return used >= kMinUsedSlots;
}

std::optional<std::vector<SmartAttribute>> ParseSmartPages(std::span<const std::byte> data,
                                                           std::span<const std::byte> thresholds) {
    if (!ValidSmartData(data)) return std::nullopt;
    const auto page = copyRecord<TSmartDataPage>(data);
    const auto limits = copyRecord<TSmartThresholdPage>(thresholds);
    if (!page || !limits) return std::nullopt;
    std::map<std::uint8_t, std::uint8_t> byId;
    for (const TSmartThresholdEntry& t : limits->Entries) {
        if (t.Id != 0) byId.emplace(t.Id, t.Threshold);  // the first entry of an ID counts
    }
    std::vector<SmartAttribute> out;
    for (const TSmartAttributeEntry& e : page->Entries) {
        if (e.Id == 0) continue;
        SmartAttribute a;
        a.Id = e.Id;
        a.Flags = e.Flags;
        a.Value = e.Value;
        a.Worst = e.Worst;
        a.Raw = raw48(e.Raw);
        const auto t = byId.find(e.Id);
        a.Threshold = t == byId.end() ? 0 : t->second;
        out.push_back(a);
    }
    return out;
}

std::optional<DriveIdentity> ParseIdentify(std::span<const std::byte> data) {
    if (data.size() < kIdentifySize) return std::nullopt;
    const std::uint8_t first = storage::u8(data, 0);
    if (first == 0x70 || first == 0x72) return std::nullopt;
    // The model's bytes are checked as stored: swapping does not change what is printable.
    if (!plausibleModel(data, kIdentifyModelOffset, kIdentifyModelLength)) return std::nullopt;
    return DriveIdentity{field(data, kIdentifyModelOffset, kIdentifyModelLength, true),
                         field(data, kIdentifySerialOffset, kIdentifySerialLength, true),
                         field(data, kIdentifyFirmwareOffset, kIdentifyFirmwareLength, true)};
}

std::optional<DriveIdentity> ParseNvmeIdentify(std::span<const std::byte> data) {
    if (data.size() < kNvmeIdentifySize) return std::nullopt;
    if (!plausibleModel(data, kNvmeModelOffset, kNvmeModelLength)) return std::nullopt;
    return DriveIdentity{field(data, kNvmeModelOffset, kNvmeModelLength, false),
                         field(data, kNvmeSerialOffset, kNvmeSerialLength, false),
                         field(data, kNvmeFirmwareOffset, kNvmeFirmwareLength, false)};
}

}  // namespace brenvale::health
