#pragma once
// The decoder a pending gzip hit keeps: the stream is decompressed (and the output dropped)
// only to learn where it ends, since gzip records no compressed length.

#include <cstdint>
#include <memory>
#include <span>

namespace brenvale::raw {

class StreamMeasure {
public:
    enum class Outcome { End, More, Corrupt };

    StreamMeasure();
    ~StreamMeasure();
    StreamMeasure(const StreamMeasure&) = delete;
    StreamMeasure& operator=(const StreamMeasure&) = delete;

    // Feeds the next bytes of the file. `used` receives how many of them belong to it: all of
    // them for More, up to the end of the last member for End (a member that follows at once is
    // taken as part of the same file), none that count for Corrupt.
    Outcome Feed(std::span<const std::byte> data, std::int64_t& used);
    // A member or stream has ended and nothing after it has been seen yet.
    bool AtBoundary() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace brenvale::raw
