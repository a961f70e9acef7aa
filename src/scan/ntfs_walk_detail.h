#pragma once
// Shared by the NTFS walk's source files: attribute-list entries and what a base record yields.

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "scan/undelete.h"

namespace brenvale::scan {

// One entry of an $ATTRIBUTE_LIST: which record holds which attribute.
struct NtfsListEntry {
    std::uint32_t type = 0;
    std::uint8_t nameLength = 0;
    std::uint64_t startVcn = 0;
    std::uint64_t record = 0;  // 48-bit record number
    std::uint16_t id = 0;
};

// Entries of at least 26 bytes each; a shorter one, or one past the end, ends the list.
std::vector<NtfsListEntry> ParseAttributeList(std::span<const std::byte> list);

// No real attribute list comes near this; a larger claim is damage.
inline constexpr std::uint64_t kMaxAttributeList = 1u << 20;

struct TUndelete::NtfsName {
    std::vector<std::byte> value;  // the chosen $FILE_NAME value, standard-information times copied in
    std::u16string name;
    std::u16string longName;
    std::size_t attrOfs = std::numeric_limits<std::size_t>::max();  // in the record; max: from another record
    std::uint64_t alloc = 0;
    std::uint64_t real = 0;
    std::uint16_t flags = 0;
};

}  // namespace brenvale::scan
