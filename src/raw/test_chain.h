#pragma once
// The order in which a sector is tested for the start of each format, and what the scan does
// with a hit of each type while it waits for its end.

#include <cstdint>
#include <span>

#include "raw/formats/formats.h"

namespace brenvale::raw {

using SignatureTest = bool (*)(ScanContext&, formats::Bytes sector, TFoundFile& hit);
using LengthParser = int (*)(ScanContext&, formats::Bytes data, TFoundFile& hit);
using PendingAtEnd = void (*)(ScanContext&, TFoundFile& hit);

// Strings whose presence in a batch lets a pending hit of some kinds see that batch.
enum class EndMarker : std::uint8_t { None, Step, StlText, Catia, Dxf, Pdf };
inline constexpr int kEndMarkerKinds = 6;

struct ChainRow {
    const char* Format;
    SignatureTest Test;    // null while the format has no test yet: never a hit
    LengthParser Parser;   // null: the hit is finished with the size its test set
    std::uint8_t HandFrom;  // the parser gets the sector from this byte on
};

// Every format, in the order a sector is tried; the first test that makes a hit ends the chain.
std::span<const ChainRow> TestChain();

// What the scan does with a pending hit of one type.
struct Continuation {
    LengthParser Parser = nullptr;   // null: the hit is left as it is
    PendingAtEnd AtEnd = nullptr;    // a hit still pending when the scan completes; null: unknown size
    EndMarker Marker = EndMarker::None;
    bool DisposeWhenBroken = false;  // a broken walk means it was no such file
    bool HoldsStream = false;        // `Info` is a decoder of the side tables
    // Every record head of the format may start a hit of its own (TAR: each member's header),
    // and such a hit measures the rest of the walk that stepped on it. Its parser lists the
    // heads it steps on, so those hits take their length from that walk instead of walking the
    // same records again, which would cost the square of the member count.
    bool SharesWalk = false;
};
Continuation ContinuationOf(const TFoundFile& hit);

// The bytes of each end marker.
std::span<const std::byte> EndMarkerBytes(EndMarker kind);

// Whether a sector is worth the test chain: its first byte starts some format, it holds a TAR
// header, or it begins a text DXF (which may begin with spaces). Most sectors of a disk stop
// here.
bool Admitted(formats::Bytes sector);

}  // namespace brenvale::raw
