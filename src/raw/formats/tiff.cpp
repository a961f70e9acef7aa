// TIFF and the camera files built on it (DNG, CR2, NEF, ORF, RW2, PEF, ARW, SR2): the image file
// directories are walked for every place the file refers to; the farthest one is where the
// file ends. On the way the walk picks up the picture size, the camera's facts and the largest
// embedded preview, and the maker text decides which camera family the file belongs to.

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "raw/formats/embedded_jpeg.h"
#include "raw/formats/formats.h"
#include "storage/le.h"

namespace brenvale::raw::formats {

namespace {

constexpr std::uint32_t kMaxFirstIfd = 15728640;
constexpr std::int64_t kCrwSize = 15728640;
constexpr std::int64_t kSmallestBeyond = 4096;
constexpr std::int64_t kLargestTiff = 262144000;
constexpr int kMaxChainDepth = 10;
constexpr int kSubIfd = 255;
constexpr std::uint16_t kMaxEntries = 4096;
constexpr std::size_t kMaxIfds = 256;  // any real file has a handful
constexpr std::uint16_t kPanasonicVersion = 85;

enum Tag : std::uint16_t {
    kWidth = 256, kHeight = 257, kBitsPerSample = 258, kCompression = 259, kPhotometric = 262,
    kMake = 271, kModel = 272, kStripOffsets = 273, kStripByteCounts = 279, kFreeOffsets = 288,
    kFreeByteCounts = 289, kTileOffsets = 324, kTileByteCounts = 325, kSubIfds = 330, kGlobalIfd = 400,
    kJpegOffset = 513, kJpegLength = 514, kExposureTime = 0x829A, kFNumber = 0x829D, kExifIfd = 0x8769,
    kIso = 0x8827, kPrivateSubIfds = 0x888A, kDateTaken = 0x9003, kFocalLength = 0x920A, kMakerNote = 0x927C,
    kExifWidth = 0xA002, kExifHeight = 0xA003, kDngVersion = 50706, kSonyPrivate = 45096,
};

enum class Walk { Invalid, Complete, Beyond };

std::uint64_t typeSize(std::uint16_t type) {
    switch (type) {
        case 1: case 2: case 6: case 7: return 1;
        case 3: case 8: return 2;
        case 4: case 9: case 11: return 4;
        case 5: case 10: case 12: return 8;
        default: return 0;
    }
}

class IfdWalker {
public:
    // `data` holds the file's bytes from offset `origin` on: all offsets are the file's own, and
    // what lies before the origin is counted for the length but cannot be read.
    IfdWalker(Bytes data, std::int64_t origin, bool bigEndian, TFoundFile& hit, TRawImageInfo& info)
        : d_(data), be_(bigEndian), hit_(hit), info_(info), origin_(origin),
          n_(origin + static_cast<std::int64_t>(data.size())) {}

    std::uint16_t u16(std::int64_t at) const {
        if (at < origin_) return 0;
        const auto o = static_cast<std::size_t>(at - origin_);
        return be_ ? storage::be16(d_, o) : storage::le16(d_, o);
    }
    std::uint32_t u32(std::int64_t at) const {
        if (at < origin_) return 0;
        const auto o = static_cast<std::size_t>(at - origin_);
        return be_ ? storage::be32(d_, o) : storage::le32(d_, o);
    }
    bool inside(std::int64_t at, std::int64_t len) const {
        return at >= origin_ && len >= 0 && at <= n_ && len <= n_ - at;
    }

    // Whether the first IFD at `b` holds `tag`.
    bool ifdHolds(std::int64_t b, std::uint16_t tag) const {
        if (!inside(b, 2)) return false;
        const std::uint16_t count = u16(b);
        for (std::uint16_t i = 0; i < count && i < kMaxEntries; ++i) {
            const std::int64_t e = b + 2 + 12 * std::int64_t{i};
            if (!inside(e, 12)) break;
            if (u16(e) == tag) return true;
        }
        return false;
    }

    Walk walk(std::int64_t b, int depth) {
        if (!inside(b, 2) || (depth > kMaxChainDepth && depth < kSubIfd)) return Walk::Invalid;
        // A directory met twice (a loop) or a file of absurdly many: walked once, no more.
        if (std::find(seen_.begin(), seen_.end(), b) != seen_.end() || seen_.size() >= kMaxIfds) return Walk::Complete;
        seen_.push_back(b);
        const std::uint16_t count = u16(b);
        if (count < 1 || count > kMaxEntries) return Walk::Invalid;
        raise(b + 2 + 12 * std::int64_t{count});
        Ifd ifd;
        bool beyond = false;
        for (std::uint16_t i = 0; i < count; ++i) {
            const std::int64_t e = b + 2 + 12 * std::int64_t{i};
            if (!inside(e, 12)) break;
            if (entry(e, b == firstIfd, ifd) == Walk::Beyond) beyond = true;
        }
        if (finishIfd(ifd) == Walk::Beyond) beyond = true;
        if (depth != kSubIfd) {
            const std::int64_t nextAt = b + 2 + 12 * std::int64_t{count};
            if (inside(nextAt, 4)) {
                const std::uint32_t next = u32(nextAt);
                if (next != 0) {
                    if (next > n_ - 14) {
                        beyond = true;
                    } else if (walk(next, depth + 1) == Walk::Beyond) {
                        beyond = true;
                    }
                }
            }
        }
        return beyond ? Walk::Beyond : Walk::Complete;
    }

    std::string makeLower;
    std::uint16_t version = 0;
    bool firstIsArw = false;
    std::int64_t firstIfd = -1;

private:
    struct Ifd {
        std::uint16_t bits = 0, compression = 0, photometric = 0;
        std::vector<std::uint32_t> offsets[4], lengths[4];  // strips, free, tiles, JPEG
    };

    void raise(std::int64_t end) { hit_.Size = std::max(hit_.Size, end); }

    std::uint32_t scalar(std::int64_t e) const {
        return u16(e + 2) == 3 ? u16(e + 8) : u32(e + 8);
    }

    std::string text(std::int64_t e, std::uint64_t size) const {
        const std::int64_t at = size <= 4 ? e + 8 : u32(e + 8);
        const auto len = static_cast<std::int64_t>(std::min<std::uint64_t>(size, 255));
        if (!inside(at, len)) return {};
        std::string s(reinterpret_cast<const char*>(d_.data()) + (at - origin_), static_cast<std::size_t>(len));
        return s.substr(0, s.find('\0'));
    }

    void rational(std::int64_t e, std::uint32_t (&out)[2]) const {
        const std::int64_t at = u32(e + 8);
        if (!inside(at, 8)) return;
        out[0] = u32(at);
        out[1] = u32(at + 4);
    }

    // The values of an offset or length list; false when they lie beyond the data.
    bool list(std::int64_t e, std::uint64_t size, std::vector<std::uint32_t>& out) const {
        const std::uint16_t type = u16(e + 2);
        const std::uint32_t count = u32(e + 4);
        // Offsets and lengths are SHORT or LONG; any other type lists nothing (and its size
        // would say nothing about how many values there are).
        if (type != 3 && type != 4) return true;
        const std::int64_t at = size <= 4 ? e + 8 : u32(e + 8);
        if (size > static_cast<std::uint64_t>(n_) || !inside(at, static_cast<std::int64_t>(size))) return false;
        out.reserve(std::min<std::uint32_t>(count, 4096));
        for (std::uint32_t i = 0; i < count; ++i) out.push_back(type == 3 ? u16(at + 2 * std::int64_t{i}) : u32(at + 4 * std::int64_t{i}));
        return true;
    }

    Walk subIfd(std::uint32_t pointer) {
        if (pointer > n_ - 14) return Walk::Beyond;
        return walk(pointer, kSubIfd) == Walk::Beyond ? Walk::Beyond : Walk::Complete;
    }

    void preview(std::int64_t offset, std::int64_t length, std::uint8_t kind) {
        if (length <= 0) return;
        if (info_.PreviewLength != 0 && length >= info_.PreviewLength) return;
        info_.PreviewOffset = offset;
        info_.PreviewLength = length;
        info_.PreviewKind = kind;
    }

    Walk entry(std::int64_t e, bool inFirst, Ifd& ifd) {
        const std::uint16_t tag = u16(e);
        const std::uint64_t size = std::uint64_t{u32(e + 4)} * typeSize(u16(e + 2));
        if (inFirst && version == kPanasonicVersion && (tag == 6 || tag == 7 || tag == 23)) {
            if (tag == 6) info_.Width = std::max<std::int32_t>(info_.Width, static_cast<std::int32_t>(scalar(e)));
            if (tag == 7) info_.Height = std::max<std::int32_t>(info_.Height, static_cast<std::int32_t>(scalar(e)));
            if (tag == 23) info_.ISO = static_cast<std::int32_t>(scalar(e));
            return Walk::Complete;
        }
        switch (tag) {
            case kWidth: case kExifWidth:
                info_.Width = std::max<std::int32_t>(info_.Width, static_cast<std::int32_t>(scalar(e) & 0x7FFFFFFF));
                return Walk::Complete;
            case kHeight: case kExifHeight:
                info_.Height = std::max<std::int32_t>(info_.Height, static_cast<std::int32_t>(scalar(e) & 0x7FFFFFFF));
                return Walk::Complete;
            case kBitsPerSample:
                ifd.bits = size <= 4 ? u16(e + 8) : (inside(u32(e + 8), 2) ? u16(u32(e + 8)) : 0);
                break;
            case kCompression: ifd.compression = static_cast<std::uint16_t>(scalar(e)); return Walk::Complete;
            case kPhotometric: ifd.photometric = static_cast<std::uint16_t>(scalar(e)); return Walk::Complete;
            case kMake:
                info_.Make = text(e, size);
                makeLower = info_.Make;
                for (char& c : makeLower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                break;
            case kModel: info_.Model = text(e, size); break;
            case kDateTaken: info_.DateTaken = text(e, size); break;
            case kExposureTime: rational(e, info_.ExposureTime); break;
            case kFNumber: rational(e, info_.FNumber); break;
            case kFocalLength: rational(e, info_.FocalLength); break;
            case kIso: info_.ISO = static_cast<std::int32_t>(scalar(e) & 0x7FFFFFFF); return Walk::Complete;
            case kMakerNote: makerNote(e); break;
            case kStripOffsets: case kFreeOffsets: case kTileOffsets: case kJpegOffset:
            case kStripByteCounts: case kFreeByteCounts: case kTileByteCounts: case kJpegLength: {
                const int k = tag == kStripOffsets || tag == kStripByteCounts ? 0
                              : tag == kFreeOffsets || tag == kFreeByteCounts ? 1
                              : tag == kTileOffsets || tag == kTileByteCounts ? 2 : 3;
                const bool isOffset = tag == kStripOffsets || tag == kFreeOffsets || tag == kTileOffsets || tag == kJpegOffset;
                if (!list(e, size, isOffset ? ifd.offsets[k] : ifd.lengths[k])) return Walk::Beyond;
                return Walk::Complete;
            }
            case kGlobalIfd: case kExifIfd:
                return subIfd(u32(e + 8));
            case kSubIfds: case kPrivateSubIfds: {
                std::vector<std::uint32_t> pointers;
                if (!list(e, size, pointers)) return Walk::Beyond;
                Walk r = Walk::Complete;
                for (std::size_t i = 0; i < pointers.size(); ++i) {
                    if (i == 0 && inFirst && makeLower.find("sony") != std::string::npos && firstIsArw) {
                        sonyPrivate_ = pointers[0];
                        continue;
                    }
                    if (subIfd(pointers[i]) == Walk::Beyond) r = Walk::Beyond;
                }
                return r;
            }
            default:
                break;
        }
        if (size > 4) {
            const std::int64_t at = u32(e + 8);
            raise(at + static_cast<std::int64_t>(std::min<std::uint64_t>(size, INT32_MAX)));
            if (!inside(at, static_cast<std::int64_t>(std::min<std::uint64_t>(size, INT64_MAX / 2)))) return Walk::Beyond;
        }
        return Walk::Complete;
    }

    void makerNote(std::int64_t e) {
        const std::int64_t note = u32(e + 8);
        if (makeLower.find("olympus") != std::string::npos) {
            const std::int64_t b = note + 8;
            if (!inside(b, 2)) return;
            const std::uint16_t count = u16(b);
            for (std::uint16_t i = 0; i < count && i < kMaxEntries; ++i) {
                const std::int64_t x = b + 2 + 12 * std::int64_t{i};
                if (!inside(x, 12)) break;
                if (u16(x) == 256) preview(u32(x + 8), u32(x + 4), kPreviewJpeg);
            }
            return;
        }
        if (makeLower.find("minolta") != std::string::npos) {
            const std::int64_t b = note;
            if (!inside(b, 2)) return;
            const std::uint16_t count = u16(b);
            std::int64_t offset = -1, length = 0;
            for (std::uint16_t i = 0; i < count && i < kMaxEntries; ++i) {
                const std::int64_t x = b + 2 + 12 * std::int64_t{i};
                if (!inside(x, 12)) break;
                if (u16(x) == 129 || u16(x) == 136) offset = u32(x + 8);
                if (u16(x) == 137) length = u32(x + 8);
            }
            if (offset >= 0) preview(offset, length, kPreviewJpeg);
            return;
        }
        if (sonyPrivate_ == 0) return;
        // Sony: the maker note's private directory says how far the raw data goes.
        const std::int64_t b = note + 12;
        if (!inside(b, 2)) return;
        const std::uint16_t count = u16(b);
        for (std::uint16_t i = 0; i < count && i < kMaxEntries; ++i) {
            const std::int64_t x = b + 2 + 12 * std::int64_t{i};
            if (!inside(x, 12)) break;
            if (u16(x) != kSonyPrivate) continue;
            const std::int64_t sub = u32(x + 8);
            if (!inside(sub, 2)) return;
            const std::uint16_t subCount = u16(sub);
            for (std::uint16_t j = 0; j < subCount && j < kMaxEntries; ++j) {
                const std::int64_t y = sub + 2 + 12 * std::int64_t{j};
                if (!inside(y, 12)) break;
                if (u16(y) == 64) raise(std::int64_t{sonyPrivate_} + u32(y + 8));
            }
        }
    }

    Walk finishIfd(const Ifd& ifd) {
        for (int k = 0; k < 4; ++k) {
            const auto& off = ifd.offsets[k];
            const auto& len = ifd.lengths[k];
            const std::size_t pairs = std::min(off.size(), len.size());
            std::int64_t total = 0;
            for (std::size_t i = 0; i < pairs; ++i) {
                raise(std::int64_t{off[i]} + len[i]);
                total += len[i];
            }
            if (pairs == 0) continue;
            if (k == 3 || (k == 0 && ifd.compression == 6)) {
                preview(off[0], total, kPreviewJpeg);
            } else if (k == 0 && ifd.compression == 1 && ifd.photometric == 2 && ifd.bits != 48) {
                const std::int64_t before = info_.PreviewLength;
                preview(off[0], total, kPreviewRgb);
                if (info_.PreviewLength != before) info_.PreviewBits = ifd.bits;
            }
        }
        return Walk::Complete;
    }

    Bytes d_;
    bool be_;
    TFoundFile& hit_;
    TRawImageInfo& info_;
    std::int64_t origin_;
    std::int64_t n_;  // the file offset just past the data
    std::vector<std::int64_t> seen_;
    std::uint32_t sonyPrivate_ = 0;
};

// Type and extension by the maker text, lower-cased.
void classify(TFoundFile& hit, const std::string& make, std::span<const std::byte> s, bool dng, bool hasWidth) {
    auto set = [&](std::uint16_t minor, std::string_view ext) {
        hit.MinorType = minor;
        hit.SetExt(ext);
    };
    if (make.find("canon") != std::string::npos) {
        set(7, s.size() >= 10 && storage::u8(s, 8) == 'C' && storage::u8(s, 9) == 'R' ? "cr2" : "tif");
    } else if (make.find("nikon") != std::string::npos) {
        set(11, "nef");
    } else if (make.find("olympus") != std::string::npos) {
        set(12, "orf");
    } else if (make.find("panasonic") != std::string::npos) {
        // Its length is the directories' farthest reference like any TIFF's: a formula of
        // width and height would cut the files of large sensors short.
        set(13, "rw2");
    } else if (make.find("pentax") != std::string::npos) {
        set(14, dng ? "dng" : "pef");
    } else if (make.find("sony") != std::string::npos) {
        set(16, dng ? "dng" : hasWidth ? "arw" : "sr2");
    } else {
        set(dng ? 4 : 6, dng ? "dng" : "tif");
    }
}

}  // namespace

namespace {

// `ExtraData1` of a TIFF hit whose first directory lay past the batch that began it: the walk
// waits for the batch that holds it. `ExtraData2` keeps what the first bytes said.
constexpr std::int32_t kDirectoryAhead = 1;  // made by the test; the first call only arms it
constexpr std::int32_t kDirectoryArmed = 2;
constexpr std::int32_t kBigEndian = 1;
constexpr std::int32_t kCrMark = 2;

struct Head {
    bool big = false;
    bool cr = false;  // "CR" at offset 8: a Canon CR2
    std::uint16_t version = 0;
    std::uint32_t first = 0;
};

// Walks the directories from the first, over data that holds the file from `origin` on, and
// makes the hit: false when the directories are no TIFF's.
bool walkAndFile(ScanContext& ctx, Bytes data, std::int64_t origin, const Head& head, TFoundFile& found) {
    TRawImageInfo info;
    IfdWalker walker(data, origin, head.big, found, info);
    walker.version = head.version;
    const bool dng = walker.ifdHolds(head.first, kDngVersion);
    const bool hasWidth = walker.ifdHolds(head.first, kWidth);
    walker.firstIsArw = !dng && hasWidth;
    walker.firstIfd = head.first;
    const Walk w = walker.walk(head.first, 0);
    if (w == Walk::Invalid) return false;
    if (w == Walk::Beyond) {
        if (found.Size > kLargestTiff) return false;
        if (found.Size < kSmallestBeyond) found.Size = kUnknownSize;
    }
    if (found.Size > kLargestTiff) found.Size = kUnknownSize;
    // Values start on word boundaries, and writers pad the last one to keep the file even.
    if (found.Size > 0 && found.Size % 2 != 0) ++found.Size;
    std::array<std::byte, 10> mark{};
    if (head.cr) mark[8] = std::byte{'C'}, mark[9] = std::byte{'R'};
    classify(found, walker.makeLower, mark, dng, hasWidth);
    found.SetPixels(info.Width, info.Height);
    if (found.MinorType == 13 && origin == 0) {
        const auto within = static_cast<std::size_t>(std::min<std::int64_t>(found.Size, static_cast<std::int64_t>(data.size())));
        if (const auto preview = LargestEmbeddedJpeg(data.first(within))) {
            info.PreviewOffset = preview->offset;
            info.PreviewLength = preview->length;
            info.PreviewKind = kPreviewJpeg;
        }
    }
    // A preview must lie inside the file it is part of.
    if (info.PreviewLength > 0 && found.Size > 0 && info.PreviewOffset + info.PreviewLength > found.Size) {
        info.PreviewOffset = info.PreviewLength = 0;
        info.PreviewKind = kPreviewNone;
    }
    found.Info = ctx.Side.NewImageInfo();
    if (TRawImageInfo* slot = ctx.Side.Image(found.Info)) *slot = std::move(info);
    return true;
}

}  // namespace

bool TestTiff(ScanContext& ctx, Bytes s, TFoundFile& hit) {
    if (s.size() < 8) return false;
    Head head;
    head.big = storage::u8(s, 0) == 'M' && storage::u8(s, 1) == 'M';
    const bool little = storage::u8(s, 0) == 'I' && storage::u8(s, 1) == 'I';
    if (!head.big && !little) return false;
    const bool crw = s.size() >= 14 && std::memcmp(s.data() + 6, "HEAPCCDR", 8) == 0;
    head.first = head.big ? storage::be32(s, 4) : storage::le32(s, 4);
    head.version = head.big ? storage::be16(s, 2) : storage::le16(s, 2);
    head.cr = s.size() >= 10 && storage::u8(s, 8) == 'C' && storage::u8(s, 9) == 'R';
    if (!crw && head.first > kMaxFirstIfd) return false;

    // Writers that put the directory after the picture data leave it past this batch, and a
    // long directory near the batch's end is cut by it: the walk waits for the batch that holds
    // the whole directory (see ParseTiff).
    const auto directoryEnd = [&] {
        const std::uint16_t count = head.big ? storage::be16(s, head.first) : storage::le16(s, head.first);
        return std::uint64_t{head.first} + 2 + 12 * std::uint64_t{count} + 4;
    };
    if (!crw && head.first >= 8 && (head.first + 2 > s.size() || directoryEnd() > s.size())) {
        hit = MakeHit(2, 6, "tif");
        hit.ExtraData1 = kDirectoryAhead;
        hit.ExtraData2 = (head.big ? kBigEndian : 0) | (head.cr ? kCrMark : 0) | (std::int32_t{head.version} << 16);
        hit.Size = head.first;
        return true;
    }
    TFoundFile found = MakeHit(2, 6, "tif");
    if (!walkAndFile(ctx, s, 0, head, found)) {
        if (!crw) return false;
        hit = MakeHit(2, 7, "crw");
        hit.Size = kCrwSize;
        return true;
    }
    hit = found;
    return true;
}

int ParseTiff(ScanContext& ctx, Bytes data, TFoundFile& hit) {
    if (hit.ExtraData1 == kDirectoryAhead) {
        // The call right after the test, with the batch that began the file: the directory
        // lies beyond it.
        hit.ExtraData1 = kDirectoryArmed;
        return kParseMore;
    }
    if (hit.ExtraData1 != kDirectoryArmed) return kParseEnd;  // measured by its test
    // Handed the data from the first directory on; a directory cut by the batch's end comes
    // whole through the carried tail.
    if (data.size() < 2) return kParseMore;
    const std::int64_t entries = (hit.ExtraData2 & kBigEndian) ? storage::be16(data, 0) : storage::le16(data, 0);
    if (static_cast<std::int64_t>(data.size()) < 2 + 12 * entries + 4) return kParseMore;
    Head head;
    head.big = hit.ExtraData2 & kBigEndian;
    head.cr = hit.ExtraData2 & kCrMark;
    head.version = static_cast<std::uint16_t>(static_cast<std::uint32_t>(hit.ExtraData2) >> 16);
    head.first = static_cast<std::uint32_t>(hit.Size);
    TFoundFile found = MakeHit(2, 6, "tif", hit.LBA);
    if (!walkAndFile(ctx, data, hit.Size, head, found)) return kParseBroken;
    hit.MajorType = found.MajorType;
    hit.MinorType = found.MinorType;
    hit.ExtName = found.ExtName;
    hit.Info = found.Info;
    hit.Size = found.Size;
    hit.ExtraData1 = 0;
    return kParseEnd;
}

}  // namespace brenvale::raw::formats
