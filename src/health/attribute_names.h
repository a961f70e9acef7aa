#pragma once
// Display names and descriptions of S.M.A.R.T. attribute IDs. Some names are padded with
// blanks to 24 characters for the list; TrimmedName is what any other place shows.

#include <cstdint>
#include <string>
#include <string_view>

namespace brenvale::health {

inline constexpr char kUnknownAttribute[] = "Unknown attribute";

std::string_view AttributeName(std::uint8_t id);
std::string_view AttributeDescription(std::uint8_t id);
std::string TrimmedName(std::uint8_t id);

}  // namespace brenvale::health
