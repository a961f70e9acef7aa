// brenvale-cli recover, run as its own process, over damaged copies of the fixture volumes:
// bytes of the boot sector, the FATs, the folders, the MFT and the exFAT entry sets changed at
// random from a fixed seed. Every run must end with exit code 0, 1 or 2 within the time
// limit, and write nothing outside its destination. Run under the sanitizer build, any report
// of it fails the run through its exit code.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "support/fixtures.h"
#include "support/temp_dir.h"

extern char** environ;

namespace brenvale::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kCopiesPerVolume = 40;
constexpr auto kTimeLimit = 30s;  // generous: an ASan build, a machine shared with others

// Where the metadata of each fixture lies, in bytes from the start of the image: the damage
// falls there (the volumes are small enough that it covers boot sectors, FATs and folders).
struct Volume {
    const char* image;
    std::uint64_t from, to;
};
constexpr Volume kVolumes[] = {
    {"fat12.img", 0, 64 * 1024},
    {"fat16.img", 0, 512 * 1024},
    {"fat32.img", 0, 1024 * 1024},
    {"exfat.img", 0, 2 * 1024 * 1024},
    {"ntfs.img", 0, 0},  // the boot sector and the first records of the MFT, read below
};

struct Damage {
    std::uint64_t offset;
    std::vector<std::byte> bytes;
};

// One to three changes: a few random bytes, a 32-bit field set to 0, all ones or a random
// value, or a whole sector of noise.
std::vector<Damage> MakeDamage(std::mt19937_64& rng, std::uint64_t from, std::uint64_t to) {
    std::vector<Damage> out;
    const int n = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < n; ++i) {
        Damage d;
        const auto kind = rng() % 4;
        const std::size_t len = kind == 0 ? 1 + rng() % 8 : kind == 3 ? 512 : 4;
        d.offset = from + rng() % (to - from > len ? to - from - len : 1);
        if (kind == 3) d.offset &= ~std::uint64_t{511};
        for (std::size_t k = 0; k < len; ++k) {
            const std::uint8_t v = kind == 1 ? 0xFF : kind == 2 && i % 2 ? 0x00 : static_cast<std::uint8_t>(rng());
            d.bytes.push_back(static_cast<std::byte>(v));
        }
        out.push_back(std::move(d));
    }
    return out;
}

void Patch(const fs::path& file, std::uint64_t offset, std::span<const std::byte> bytes) {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(static_cast<std::streamoff>(offset));
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::byte> ReadAt(const fs::path& file, std::uint64_t offset, std::size_t n) {
    std::ifstream f(file, std::ios::binary);
    f.seekg(static_cast<std::streamoff>(offset));
    std::vector<std::byte> out(n);
    f.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(n));
    return out;
}

struct RunResult {
    int exitCode = -1;  // -1: killed at the time limit or by a signal
    bool timedOut = false;
};

// Runs the program in `dir` with its output thrown away; kills it at the time limit.
RunResult RunCli(const fs::path& dir, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const std::string cwd = dir.string();
    posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    RunResult r;
    if (rc != 0) return r;
    const auto deadline = std::chrono::steady_clock::now() + kTimeLimit;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            r.timedOut = true;
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return r;
        }
        std::this_thread::sleep_for(20ms);
    }
    if (WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
    return r;
}

// The NTFS damage range: the boot sector's first 512 bytes and the MFT's first 64 records.
std::pair<std::uint64_t, std::uint64_t> NtfsRange(const fs::path& image) {
    const auto boot = ReadAt(image, 0, 512);
    auto u = [&](std::size_t off, int n) {
        std::uint64_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = v << 8 | std::to_integer<std::uint64_t>(boot[off + static_cast<std::size_t>(i)]);
        return v;
    };
    const std::uint64_t cluster = u(11, 2) * u(13, 1);
    const std::uint64_t mft = u(48, 8) * cluster;
    return {mft, mft + 64 * 1024};
}

TEST(RecoverDamagedVolumes, EveryRunEndsInTimeAndWritesOnlyToItsDestination) {
    int runs = 0;
    for (const Volume& v : kVolumes) {
        const auto original = fixture(v.image);
        if (!original) continue;
        SCOPED_TRACE(v.image);
        TempDir tmp;
        const fs::path image = tmp / "volume.img";
        fs::copy_file(*original, image);
        std::uint64_t from = v.from, to = v.to;
        if (to == 0) std::tie(from, to) = NtfsRange(image);
        // Boot-sector damage is the commonest and does the most harm: every fourth copy gets it.
        std::mt19937_64 rng(0x6272656e76616c65ull ^ std::hash<std::string>{}(v.image));
        for (int copy = 0; copy < kCopiesPerVolume; ++copy) {
            const bool boot = copy % 4 == 0;
            auto damage = boot ? MakeDamage(rng, 0, 512) : MakeDamage(rng, from, to);
            if (!boot && to > 512 && from == 0) {
                // Keep the FAT boot sector out of the damage of the other copies.
                for (auto& d : damage) d.offset = std::max<std::uint64_t>(d.offset, 512);
            }
            std::vector<std::vector<std::byte>> saved;
            for (const auto& d : damage) saved.push_back(ReadAt(image, d.offset, d.bytes.size()));
            for (const auto& d : damage) Patch(image, d.offset, d.bytes);
            std::string what = "copy " + std::to_string(copy) + ":";
            for (const auto& d : damage) what += " " + std::to_string(d.bytes.size()) + "@" + std::to_string(d.offset);
            SCOPED_TRACE(what);

            const fs::path dest = tmp / "dest";
            const auto r = RunCli(tmp.path(), {BRENVALE_CLI_PATH, "recover", "volume.img", "--to", "dest", "--quiet"});
            ++runs;
            EXPECT_FALSE(r.timedOut) << "over the time limit";
            EXPECT_TRUE(r.exitCode >= 0 && r.exitCode <= 2) << "exit " << r.exitCode;
            for (const auto& e : fs::directory_iterator(tmp.path())) {
                EXPECT_TRUE(e.path() == image || e.path() == dest) << "written outside the destination: " << e.path();
            }
            fs::remove_all(dest);
            // Undone in reverse, so that overlapping changes restore the original.
            for (std::size_t i = damage.size(); i-- > 0;) Patch(image, damage[i].offset, saved[i]);
            if (::testing::Test::HasFailure()) return;
        }
        EXPECT_EQ(sha256Hex(ReadWholeFile(image)), sha256Hex(ReadWholeFile(*original))) << "nothing but the damage was ever changed in the source";
    }
    if (runs == 0) GTEST_SKIP() << "fixture images not built in " << fixtureDir();
}

}  // namespace
}  // namespace brenvale::test
