// GZIP: the signature test, and the measure that runs the stream through zlib until it ends
// (zlib checks the trailer's CRC and length on the way).

#include "raw/formats/compressed_stream.h"

#include <zlib.h>

#include <array>
#include <cstring>

#include "raw/formats/formats.h"
#include "storage/le.h"

namespace brenvale::raw {

namespace {

constexpr std::size_t kScratch = 64 * 1024;

bool startsGzipMember(std::span<const std::byte> d) {
    return d.size() >= 3 && storage::le16(d, 0) == 0x8B1F && storage::u8(d, 2) == 8;
}

}  // namespace

struct StreamMeasure::State {
    bool open = false;        // a member is being decoded
    bool atBoundary = false;  // one ended; the next bytes tell whether another follows
    z_stream z{};
    std::array<unsigned char, kScratch> out{};

    ~State() { close(); }

    bool openNext() {
        z = z_stream{};
        open = inflateInit2(&z, 16 + MAX_WBITS) == Z_OK;
        return open;
    }
    void close() {
        if (!open) return;
        inflateEnd(&z);
        open = false;
    }
    // Decodes from `in` until it is used up or the member ends: End, More or Corrupt, with
    // the bytes consumed.
    Outcome run(const unsigned char* in, std::size_t n, std::size_t& consumed) {
        consumed = 0;
        while (consumed < n) {
            // zlib counts in unsigned int; feed at most 1 GiB at a time.
            const auto chunk = static_cast<unsigned>(std::min<std::size_t>(n - consumed, 1u << 30));
            z.next_in = const_cast<unsigned char*>(in + consumed);
            z.avail_in = chunk;
            z.next_out = out.data();
            z.avail_out = kScratch;
            const int rc = inflate(&z, Z_NO_FLUSH);
            const std::size_t left = z.avail_in;
            consumed += chunk - left;
            if (rc == Z_STREAM_END) return Outcome::End;
            if (rc != Z_OK && rc != Z_BUF_ERROR) return Outcome::Corrupt;
            if (rc == Z_BUF_ERROR && left != 0) return Outcome::Corrupt;
        }
        return Outcome::More;
    }
};

StreamMeasure::StreamMeasure() : state_(std::make_unique<State>()) {}
StreamMeasure::~StreamMeasure() = default;

StreamMeasure::Outcome StreamMeasure::Feed(std::span<const std::byte> data, std::int64_t& used) {
    used = 0;
    State& s = *state_;
    const auto* in = reinterpret_cast<const unsigned char*>(data.data());
    std::size_t at = 0;
    for (;;) {
        if (s.atBoundary) {
            // Another member right after the last one belongs to the same file (pigz and
            // `cat a.gz b.gz` write such files). Too few bytes to tell: the next data decides.
            const auto rest = data.subspan(at);
            if (rest.size() < 4) {
                used = static_cast<std::int64_t>(at);
                return Outcome::More;
            }
            if (!startsGzipMember(rest)) return Outcome::End;
            s.atBoundary = false;
        }
        if (!s.open && !s.openNext()) return Outcome::Corrupt;
        std::size_t consumed = 0;
        const Outcome o = s.run(in + at, data.size() - at, consumed);
        at += consumed;
        if (o == Outcome::Corrupt) return o;
        if (o == Outcome::More) {
            used = static_cast<std::int64_t>(at);
            return o;
        }
        s.close();
        used = static_cast<std::int64_t>(at);
        s.atBoundary = true;
    }
}

bool StreamMeasure::AtBoundary() const {
    return state_->atBoundary;
}

namespace formats {

namespace {

// Opens the decoder of a new hit; a hit that gets none is listed with an unknown length.
void startMeasure(ScanContext& ctx, TFoundFile& hit) {
    hit.Size = kUnknownSize;
    hit.Info = ctx.Side.NewStream();
    if (hit.Info != 0) hit.Size = 0;
}

}  // namespace

bool TestGzip(ScanContext& ctx, Bytes s, TFoundFile& hit) {
    if (!startsGzipMember(s) || s.size() < 10) return false;
    // Extra flags: 2 (best compression), 4 (fastest) or 0, which gzip writes at its default
    // level and most other writers always.
    const std::uint8_t xfl = storage::u8(s, 8);
    if (xfl != 0 && xfl != 2 && xfl != 4) return false;
    hit = MakeHit(0, 2, "gz");
    startMeasure(ctx, hit);
    return true;
}

int ParseCompressedStream(ScanContext& ctx, Bytes data, TFoundFile& hit) {
    StreamMeasure* m = ctx.Side.Stream(hit.Info);
    if (!m || hit.Size < 0) return kParseBroken;
    // Never decode past the type's maximum: a stream that has not ended by then is unknown.
    const std::int64_t room = ctx.MaxSize(hit) - hit.Size;
    const bool capped = static_cast<std::int64_t>(data.size()) > room;
    if (room <= 0) {
        hit.Size = kUnknownSize;
        return kParseBroken;
    }
    if (capped) data = data.first(static_cast<std::size_t>(room));
    std::int64_t used = 0;
    const auto outcome = m->Feed(data, used);
    if (outcome == StreamMeasure::Outcome::Corrupt || (outcome == StreamMeasure::Outcome::More && capped)) {
        hit.Size = kUnknownSize;
        return kParseBroken;
    }
    hit.Size += used;
    return outcome == StreamMeasure::Outcome::End ? kParseEnd : kParseMore;
}

void CompressedStreamAtEnd(ScanContext& ctx, TFoundFile& hit) {
    // A stream that had ended, with nothing after it to tell whether another follows, is whole.
    const StreamMeasure* m = ctx.Side.Stream(hit.Info);
    if (!m || !m->AtBoundary()) hit.Size = kUnknownSize;
}

}  // namespace formats

}  // namespace brenvale::raw
