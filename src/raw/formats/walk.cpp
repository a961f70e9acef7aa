#include "raw/formats/walk.h"

namespace brenvale::raw::formats {

bool AddWithinMax(const ScanContext& ctx, TFoundFile& hit, std::int64_t length) {
    const std::int64_t max = ctx.MaxSize(hit);
    if (length < 0 || hit.Size < 0 || length > max - hit.Size) return false;
    hit.Size += length;
    return true;
}

int WalkRecords(ScanContext& ctx, Bytes data, TFoundFile& hit, RecordReader read) {
    RepeatGuard guard;
    std::int64_t cursor = 0;
    const auto count = static_cast<std::int64_t>(data.size());
    while (cursor < count) {
        if (!guard.Step(cursor)) return kParseBroken;
        const Record r = read(ctx, hit, data.subspan(static_cast<std::size_t>(cursor)));
        if (r.code == kRecordIncomplete) break;
        if (r.code == kRecordInvalid || r.length <= 0) return kParseBroken;
        if (!AddWithinMax(ctx, hit, r.length)) return kParseBroken;
        if (r.code == kRecordLast) return kParseEnd;
        cursor += r.length;
    }
    return kParseMore;
}

}  // namespace brenvale::raw::formats
