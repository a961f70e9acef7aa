#include "platform/timed_read.h"

#include "platform/errors.h"

namespace brenvale::platform {

namespace {

ReadOutcome finished(const AsyncRead::Done& done) {
    if (done.error == 0) return {ReadStatus::Ok, 0, done.bytes};
    return {ReadStatus::Failed, done.error, 0};
}

}  // namespace

ReadOutcome readWithTimeout(AsyncRead& io, std::span<std::byte> buf, std::uint64_t offset,
                            Millis timeout) {
    if (timeout <= Millis::zero()) timeout = kDefaultTimeout;

    if (auto done = io.submit(buf, offset)) return finished(*done);
    if (auto done = io.wait(timeout)) return finished(*done);

    io.cancel();
    if (auto done = io.wait(kCancelDrain)) {
        // The data may have arrived just as we gave up: that is still a good read.
        if (done->error == 0) return {ReadStatus::Ok, 0, done->bytes};
        return {ReadStatus::TimedOut, kErrTimedOut, 0};
    }
    return {ReadStatus::Hung, kErrTimedOut, 0};
}

}  // namespace brenvale::platform
