#include "platform/linux/uring_reader.h"

#include <liburing.h>

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <unordered_set>
#include <vector>

namespace brenvale::platform::linux_os {

namespace {

// Completions of cancel requests carry the tag of the read they target with this bit set, so
// the two completions of a cancelled read are never confused.
constexpr std::uint64_t kCancelBit = std::uint64_t{1} << 62;
constexpr unsigned kRingEntries = 8;
constexpr std::size_t kMaxLength = 1u << 30;

bool supportsNeededOps(io_uring& ring) {
    io_uring_probe* probe = io_uring_get_probe_ring(&ring);
    if (probe == nullptr) return false;
    const bool ok = io_uring_opcode_supported(probe, IORING_OP_READ) &&
                    io_uring_opcode_supported(probe, IORING_OP_ASYNC_CANCEL);
    io_uring_free_probe(probe);
    return ok;
}

}  // namespace

struct UringReader::State {
    io_uring ring{};
    int fd = -1;
    std::uint64_t nextTag = 1;
    std::optional<std::uint64_t> current;         // the read the caller is waiting for
    std::unordered_set<std::uint64_t> readsOut;   // reads whose completion has not come back
};

UringReader::UringReader(std::unique_ptr<State> state) : state_(std::move(state)) {}

std::unique_ptr<UringReader> UringReader::create(int fd) {
    auto state = std::make_unique<State>();
    state->fd = fd;
    if (io_uring_queue_init(kRingEntries, &state->ring, 0) < 0) return nullptr;
    if (!supportsNeededOps(state->ring)) {
        io_uring_queue_exit(&state->ring);
        return nullptr;
    }
    return std::unique_ptr<UringReader>(new UringReader(std::move(state)));
}

UringReader::~UringReader() {
    reapReady();
    if (state_->readsOut.empty()) {
        io_uring_queue_exit(&state_->ring);
        return;
    }
    // A read is still out. Tearing the ring down may wait for it, and a hung device never
    // finishes it, so the ring is kept (its memory stays valid for the kernel) until exit.
    static std::mutex* const mutex = new std::mutex;
    static auto* const kept = new std::vector<std::unique_ptr<State>>;
    std::lock_guard lock(*mutex);
    kept->push_back(std::move(state_));
}

std::size_t UringReader::readsInFlight() const { return state_->readsOut.size(); }

std::optional<AsyncRead::Done> UringReader::reapReady() {
    State& s = *state_;
    std::optional<Done> result;
    io_uring_cqe* cqe = nullptr;
    while (io_uring_peek_cqe(&s.ring, &cqe) == 0 && cqe != nullptr) {
        const std::uint64_t tag = io_uring_cqe_get_data64(cqe);
        const int res = cqe->res;
        io_uring_cqe_seen(&s.ring, cqe);
        if ((tag & kCancelBit) != 0) continue;
        s.readsOut.erase(tag);
        if (s.current == tag) {
            s.current.reset();
            result = res < 0 ? Done{-res, 0} : Done{0, static_cast<std::size_t>(res)};
        }
    }
    return result;
}

namespace {

io_uring_sqe* nextSqe(io_uring& ring) {
    io_uring_sqe* sqe = io_uring_get_sqe(&ring);
    if (sqe == nullptr) {
        // The queue is full of entries the kernel has not taken yet; hand them over and retry.
        io_uring_submit(&ring);
        sqe = io_uring_get_sqe(&ring);
    }
    return sqe;
}

}  // namespace

std::optional<AsyncRead::Done> UringReader::submit(std::span<std::byte> buf,
                                                   std::uint64_t offset) {
    State& s = *state_;
    s.current.reset();  // an unfinished predecessor is abandoned; its tag stays in readsOut
    reapReady();

    io_uring_sqe* sqe = nextSqe(s.ring);
    if (sqe == nullptr) return Done{EBUSY, 0};
    // A single read transfers at most this much anyway; the rest shows as a short count.
    const auto length = static_cast<unsigned>(std::min<std::size_t>(buf.size(), kMaxLength));
    io_uring_prep_read(sqe, s.fd, buf.data(), length, offset);
    const std::uint64_t tag = s.nextTag++;
    io_uring_sqe_set_data64(sqe, tag);
    s.current = tag;
    s.readsOut.insert(tag);
    // If the kernel refuses the hand-over now, the entry stays queued and wait() tries again;
    // the read is treated as pending, never as failed, because it may still run later.
    io_uring_submit(&s.ring);
    return reapReady();
}

std::optional<AsyncRead::Done> UringReader::wait(Millis timeout) {
    State& s = *state_;
    if (!s.current) return Done{EINVAL, 0};
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (auto done = reapReady()) return done;
        if (io_uring_sq_ready(&s.ring) > 0) io_uring_submit(&s.ring);
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) return std::nullopt;
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        __kernel_timespec ts{};
        ts.tv_sec = ns / 1'000'000'000;
        ts.tv_nsec = ns % 1'000'000'000;
        io_uring_cqe* cqe = nullptr;
        const int rc = io_uring_wait_cqe_timeout(&s.ring, &cqe, &ts);
        // ETIME and EINTR loop back to the deadline check. Any other failure of the wait
        // itself leaves the read's fate unknown, so it counts as still pending: the caller
        // then cancels, and a read that never reports back is treated as hung.
        if (rc < 0 && rc != -ETIME && rc != -EINTR) return std::nullopt;
    }
}

void UringReader::cancel() {
    State& s = *state_;
    if (!s.current) return;
    io_uring_sqe* sqe = nextSqe(s.ring);
    if (sqe == nullptr) return;
    io_uring_prep_cancel64(sqe, *s.current, 0);
    io_uring_sqe_set_data64(sqe, *s.current | kCancelBit);
    io_uring_submit(&s.ring);
}

}  // namespace brenvale::platform::linux_os
