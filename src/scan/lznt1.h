#pragma once
// LZNT1, the compression of NTFS compressed streams: the chunks of one compression unit.

#include <cstddef>
#include <span>
#include <vector>

namespace brenvale::scan {

// Decodes the chunks of one compression unit and appends their output to `out`, never letting
// it grow past `limit` bytes. A zero chunk header, the end of the unit or a chunk that does
// not fit in it ends the unit; a back-reference to before the start of its chunk ends that
// chunk. Every chunk yields at most 4096 bytes.
void Lznt1DecodeUnit(std::span<const std::byte> unit, std::vector<std::byte>& out, std::size_t limit);

}  // namespace brenvale::scan
