#include "platform/linux/linux_drive_commands.h"

#include <fcntl.h>
#include <linux/hdreg.h>
#include <linux/nvme_ioctl.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ata_reply.h"
#include "platform/linux/sysfs.h"
#include "platform/linux/unique_fd.h"

namespace brenvale::platform {

namespace {

using linux_os::UniqueFd;

// What a bounded command leaves behind when it outlives its wait: the worker owns a duplicate
// descriptor and its own buffers, so abandoning it never frees memory it still writes.
struct Job {
    std::mutex m;
    std::condition_variable cv;
    bool done = false;
    UniqueFd fd;
    std::vector<std::byte> data;
    TransportReply reply;
};

// The kernel applies the command's own time-out, but a driver stuck below it (a USB bridge
// that stopped answering) can keep the ioctl from returning; the caller waits this much
// longer before giving the command up.
constexpr std::uint32_t kSlackMs = 1000;

TransportReply runBounded(int fd, std::span<std::byte> data, std::uint32_t timeoutMs,
                          std::function<void(Job&)> body) {
    auto job = std::make_shared<Job>();
    job->fd = UniqueFd(::fcntl(fd, F_DUPFD_CLOEXEC, 0));
    if (!job->fd.valid()) return {TransportReply::Outcome::Refused, errno};
    job->data.assign(data.size(), std::byte{0});
    std::thread worker([job, body = std::move(body)] {
        body(*job);
        std::lock_guard lock(job->m);
        job->done = true;
        job->cv.notify_all();
    });
    std::unique_lock lock(job->m);
    const bool finished =
        job->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs + kSlackMs), [&] { return job->done; });
    lock.unlock();
    if (!finished) {
        worker.detach();
        return {TransportReply::Outcome::TimedOut, ETIMEDOUT};
    }
    worker.join();
    if (!data.empty()) std::memcpy(data.data(), job->data.data(), data.size());
    return job->reply;
}

TransportReply::Outcome outcomeOfErrno(int e) {
    switch (e) {
        case ENODEV:
        case ENXIO:
        case ENOMEDIUM:
        case ESHUTDOWN:
            return TransportReply::Outcome::Offline;
        case ETIMEDOUT:
            return TransportReply::Outcome::TimedOut;
        default:
            return TransportReply::Outcome::Refused;
    }
}

constexpr unsigned kSgDidTimeOut = 0x03;  // host status of a command the kernel timed out
constexpr unsigned kSgDriverTimeout = 0x06;
constexpr std::size_t kSenseBytes = 64;

void sgIo(Job& job, std::span<const std::uint8_t> cdb, std::uint32_t timeoutMs) {
    std::array<std::uint8_t, kSenseBytes> sense{};
    std::array<std::uint8_t, 16> cdbCopy{};
    std::memcpy(cdbCopy.data(), cdb.data(), cdb.size());
    sg_io_hdr_t h{};
    h.interface_id = 'S';
    h.cmd_len = static_cast<unsigned char>(cdb.size());
    h.cmdp = cdbCopy.data();
    h.mx_sb_len = sense.size();
    h.sbp = sense.data();
    h.dxfer_direction = job.data.empty() ? SG_DXFER_NONE : SG_DXFER_FROM_DEV;
    h.dxfer_len = static_cast<unsigned>(job.data.size());
    h.dxferp = job.data.empty() ? nullptr : job.data.data();
    h.timeout = timeoutMs;
    TransportReply& r = job.reply;
    if (::ioctl(job.fd.get(), SG_IO, &h) != 0) {
        r.error = errno;
        r.outcome = outcomeOfErrno(r.error);
        return;
    }
    if (h.host_status == kSgDidTimeOut || (h.driver_status & 0x0F) == kSgDriverTimeout) {
        r.outcome = TransportReply::Outcome::TimedOut;
        r.error = ETIMEDOUT;
        return;
    }
    if (h.host_status != 0) {
        // The adapter could not deliver the command (no device behind it, a bus reset).
        r.outcome = TransportReply::Outcome::Refused;
        r.error = EIO;
        return;
    }
    r.outcome = TransportReply::Outcome::Done;
    r.scsiStatus = h.status;
    const std::size_t n = std::min<std::size_t>(h.sb_len_wr, sense.size());
    r.sense.resize(n);
    std::memcpy(r.sense.data(), sense.data(), n);
}

// HDIO_DRIVE_CMD: four bytes (command, sector number, features, sector count) followed by the
// data; the kernel writes back status, error and sector count over the first three.
void driveCmd(Job& job, const AtaRegisters& in) {
    std::vector<std::uint8_t> buf(4 + job.data.size(), 0);
    buf[0] = in.command;
    buf[1] = in.lbaLow;
    buf[2] = in.features;
    buf[3] = job.data.empty() ? 0 : static_cast<std::uint8_t>(job.data.size() / 512);
    TransportReply& r = job.reply;
    if (::ioctl(job.fd.get(), HDIO_DRIVE_CMD, buf.data()) != 0) {
        r.error = errno;
        // EIO here means the drive answered with an error; its status came back in buf.
        if (r.error == EIO) {
            r.outcome = TransportReply::Outcome::Done;
            r.ataStatus = buf[0] ? buf[0] : 0x01;
            r.ataError = buf[1];
            return;
        }
        r.outcome = outcomeOfErrno(r.error);
        return;
    }
    r.outcome = TransportReply::Outcome::Done;
    r.ataStatus = buf[0];
    r.ataError = buf[1];
    if (!job.data.empty()) std::memcpy(job.data.data(), buf.data() + 4, job.data.size());
}

void nvmeAdminCmd(Job& job, const NvmeAdminCommand& c, std::uint32_t timeoutMs) {
    nvme_admin_cmd cmd{};
    cmd.opcode = c.opcode;
    cmd.nsid = c.nsid;
    cmd.addr = reinterpret_cast<std::uintptr_t>(job.data.data());
    cmd.data_len = static_cast<std::uint32_t>(job.data.size());
    cmd.cdw10 = c.cdw10;
    cmd.cdw11 = c.cdw11;
    cmd.timeout_ms = timeoutMs;
    TransportReply& r = job.reply;
    const int rc = ::ioctl(job.fd.get(), NVME_IOCTL_ADMIN_CMD, &cmd);
    if (rc < 0) {
        r.error = errno;
        r.outcome = outcomeOfErrno(r.error);
        return;
    }
    r.outcome = TransportReply::Outcome::Done;
    r.nvmeStatus = static_cast<std::uint32_t>(rc);
}

class LinuxDriveHandle final : public DriveHandle {
public:
    LinuxDriveHandle(UniqueFd fd, DriveKind kind) : fd_(std::move(fd)), kind_(kind) {}

    DriveKind kind() const override { return kind_; }

    TransportReply ata(AtaForm form, const AtaRegisters& in, std::span<std::byte> data,
                       std::uint32_t timeoutMs) override {
        // An optical drive reads 0xA1 as BLANK; an image has no drive to ask.
        if (kind_ == DriveKind::Optical || kind_ == DriveKind::Image || kind_ == DriveKind::Nvme) {
            return {TransportReply::Outcome::Refused, EOPNOTSUPP};
        }
        const bool dataIn = !data.empty();
        // Without data the command is asked to return its registers (SMART RETURN STATUS).
        const bool checkCondition = !dataIn;
        return runBounded(fd_.get(), data, timeoutMs, [form, in, dataIn, checkCondition, timeoutMs](Job& job) {
            switch (form) {
                case AtaForm::PassThrough16: {
                    const auto cdb = AtaPassThrough16(in, dataIn, checkCondition);
                    sgIo(job, cdb, timeoutMs);
                    break;
                }
                case AtaForm::PassThrough12: {
                    const auto cdb = AtaPassThrough12(in, dataIn, checkCondition);
                    sgIo(job, cdb, timeoutMs);
                    break;
                }
                case AtaForm::DriveCmd: driveCmd(job, in); break;
            }
        });
    }

    TransportReply nvmeAdmin(const NvmeAdminCommand& cmd, std::span<std::byte> data,
                             std::uint32_t timeoutMs) override {
        if (kind_ != DriveKind::Nvme) return {TransportReply::Outcome::Refused, EOPNOTSUPP};
        return runBounded(fd_.get(), data, timeoutMs, [cmd, timeoutMs](Job& job) { nvmeAdminCmd(job, cmd, timeoutMs); });
    }

    bool readFirstSector(std::span<std::byte> data) override {
        constexpr std::uint32_t kWakeMs = 2000;
        const TransportReply r = runBounded(fd_.get(), data, kWakeMs, [](Job& job) {
            const ssize_t n = ::pread(job.fd.get(), job.data.data(), job.data.size(), 0);
            job.reply.outcome = n == static_cast<ssize_t>(job.data.size()) ? TransportReply::Outcome::Done
                                                                              : TransportReply::Outcome::Refused;
            job.reply.error = n < 0 ? errno : 0;
        });
        return r.outcome == TransportReply::Outcome::Done;
    }

private:
    UniqueFd fd_;
    DriveKind kind_;
};

std::string kernelName(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::canonical(path, ec);
    return (ec ? std::filesystem::path(path) : real).filename().string();
}

bool startsWith(const std::string& s, std::string_view prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

DriveKind LinuxDriveCommands::kindOf(const std::string& name, const std::filesystem::path& sysfs) {
    if (startsWith(name, "loop")) return DriveKind::Image;
    if (startsWith(name, "nvme")) return DriveKind::Nvme;
    if (startsWith(name, "sr")) return DriveKind::Optical;
    // SCSI peripheral type 5 is a CD/DVD device, whatever its name.
    if (linux_os::readUintAttr(sysfs / "class" / "block" / name / "device" / "type") == 5u) return DriveKind::Optical;
    if (startsWith(name, "sd") || startsWith(name, "hd")) return DriveKind::Ata;
    return DriveKind::Other;
}

OpenDriveResult LinuxDriveCommands::openDrive(const std::string& path) {
    // Read-only and non-blocking: commands need no write access, and an empty tray must not
    // keep the open waiting.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) return {nullptr, errno};
    return {std::make_unique<LinuxDriveHandle>(std::move(fd), kindOf(kernelName(path), sysfs_)), 0};
}

TrimFacts LinuxDriveCommands::trimFacts(const std::string& devicePath) {
    TrimFacts f;
    const std::string name = kernelName(devicePath);
    f.image = startsWith(name, "loop");
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::canonical(sysfs_ / "class" / "block" / name, ec);
    if (ec) return f;
    // A partition has no queue of its own: its disk is the folder above it.
    if (!std::filesystem::exists(dir / "queue", ec)) dir = dir.parent_path();
    const auto discardMax = linux_os::readUintAttr(dir / "queue" / "discard_max_bytes");
    const auto rotational = linux_os::readUintAttr(dir / "queue" / "rotational");
    if (!discardMax || !rotational) return f;
    f.known = true;
    f.discard = *discardMax > 0;
    f.rotational = *rotational != 0;
    return f;
}

std::unique_ptr<DriveCommands> makeLinuxDriveCommands() { return std::make_unique<LinuxDriveCommands>(); }

std::unique_ptr<DriveCommands> makeSystemDriveCommands() { return makeLinuxDriveCommands(); }

}  // namespace brenvale::platform
