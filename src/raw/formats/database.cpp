// Access databases (Jet and ACE), measured by walking their pages until one no engine page
// type would carry, and Money files (no length).

#include <cstring>

#include "raw/formats/formats.h"
#include "raw/formats/walk.h"
#include "storage/le.h"

namespace brenvale::raw::formats {

namespace {

constexpr char kJetStart[] = "\x00\x01\x00\x00Standard Jet DB";
constexpr char kAceStart[] = "\x00\x01\x00\x00Standard ACE DB";
constexpr char kMoneyStart[] = "\x00\x01\x00\x00MSISAM Database";
constexpr std::size_t kStartLength = 19;
constexpr std::size_t kVersionByte = 20;
constexpr std::int32_t kSmallPage = 2048;  // Jet 3
constexpr std::int32_t kLargePage = 4096;  // Jet 4 and ACE

bool startsWith(Bytes s, const char* what) {
    return s.size() >= kStartLength && std::memcmp(s.data(), what, kStartLength) == 0;
}

// What an ACE file becomes once its walk ends: it was filed as Jet until then.
void classify(TFoundFile& hit) {
    if (hit.Ext() == "accdb") hit.MinorType = 2;
}

}  // namespace

bool TestMdb(ScanContext&, Bytes s, TFoundFile& hit) {
    const bool jet = startsWith(s, kJetStart);
    if (!jet && !startsWith(s, kAceStart)) return false;
    if (!storage::fits(s, kVersionByte, 1)) return false;
    hit = MakeHit(4, 0, jet ? "mdb" : "accdb");
    hit.ExtraData1 = storage::u8(s, kVersionByte) != 0 ? kLargePage : kSmallPage;
    hit.Size = hit.ExtraData1;
    hit.ParsePoint = hit.ExtraData1;
    return true;
}

int ParseMdb(ScanContext& ctx, Bytes data, TFoundFile& hit) {
    // `ExtraData1`: the page size. `ParsePoint`: where the next page begins in the data (past
    // the header page on the first call, 0 on every later one: the scan resumes at `Size`).
    const std::int64_t page = hit.ExtraData1;
    if ((page != kSmallPage && page != kLargePage) || hit.ParsePoint < 0 || hit.Size < 0) return kParseBroken;
    const auto count = static_cast<std::int64_t>(data.size());
    RepeatGuard guard;
    std::int64_t at = hit.ParsePoint;
    while (at < count) {
        if (!guard.Step(at)) return kParseBroken;
        const auto type = static_cast<std::int8_t>(storage::u8(data, static_cast<std::size_t>(at)));
        if (type < 1 || type > 9) {
            classify(hit);
            return kParseEnd;
        }
        if (!AddWithinMax(ctx, hit, page)) {
            hit.Size = kUnknownSize;
            classify(hit);
            return kParseBroken;
        }
        at += page;
    }
    // The next page begins in a later batch, at `Size`.
    hit.ParsePoint = 0;
    return kParseMore;
}

void MdbAtEnd(ScanContext&, TFoundFile& hit) {
    // Every page up to the end of the disk was one: the database ends with the disk. A hit
    // that has not got past its header page has no length.
    if (hit.Size <= hit.ExtraData1) hit.Size = kUnknownSize;
    classify(hit);
}

bool TestMoney(ScanContext&, Bytes s, TFoundFile& hit) {
    if (!startsWith(s, kMoneyStart)) return false;
    hit = MakeHit(4, 3, "mny");
    hit.Size = kUnknownSize;
    return true;
}

}  // namespace brenvale::raw::formats
