#include "health/smart_reader.h"

#include <functional>
#include <span>
#include <vector>

#include "health/smart_pages.h"
#include "health/smart_records.h"
#include "platform/errors.h"

namespace brenvale::health {

namespace {

using platform::AtaForm;
using platform::AtaOutcome;
using platform::AtaRegisters;
using platform::AtaStatus;

constexpr std::uint8_t kAtaIdentify = 0xEC;
constexpr std::uint8_t kAtaSmart = 0xB0;
constexpr std::uint8_t kSmartReadData = 0xD0;
constexpr std::uint8_t kSmartReadThresholds = 0xD1;
constexpr std::uint8_t kSmartEnable = 0xD8;
constexpr std::uint8_t kSmartReturnStatus = 0xDA;
// SMART commands carry this key in the LBA mid and high registers; RETURN STATUS swaps it
// for F4h/2Ch when a threshold is exceeded.
constexpr std::uint8_t kSmartKeyMid = 0x4F, kSmartKeyHigh = 0xC2;
constexpr std::uint8_t kSmartFailMid = 0xF4, kSmartFailHigh = 0x2C;
constexpr std::uint8_t kDeviceByte = 0xA0;

constexpr std::uint8_t kNvmeGetLogPage = 0x02;
constexpr std::uint8_t kNvmeIdentifyOp = 0x06;
constexpr std::uint32_t kNvmeCnsController = 1;
constexpr std::uint8_t kNvmeHealthLogId = 0x02;
constexpr std::uint32_t kNvmeAllNamespaces = 0xFFFFFFFF;
constexpr std::size_t kNvmeHealthLogSize = 512;

AtaRegisters smartCommand(std::uint8_t feature, bool dataIn) {
    AtaRegisters r;
    r.command = kAtaSmart;
    r.features = feature;
    r.count = dataIn ? 1 : 0;
    r.lbaLow = 1;
    r.lbaMid = kSmartKeyMid;
    r.lbaHigh = kSmartKeyHigh;
    r.device = kDeviceByte;
    return r;
}

AtaRegisters identifyCommand() {
    AtaRegisters r;
    r.command = kAtaIdentify;
    r.count = 1;
    r.device = kDeviceByte;
    return r;
}

std::string failureText(const AtaOutcome& o) {
    switch (o.status) {
        case AtaStatus::Refused:
            return o.error != 0 ? "the kernel refused the command (" + platform::errorText(o.error) + ")"
                                : "the bridge does not pass the command on";
        case AtaStatus::DeviceError: return "the drive rejected the command";
        case AtaStatus::TimedOut: return "the drive did not answer in time";
        case AtaStatus::Offline: return "the device is gone";
        case AtaStatus::Ok: return "the drive returned no valid data";
    }
    return {};
}

std::string transportFailureText(const platform::TransportReply& r) {
    switch (r.outcome) {
        case platform::TransportReply::Outcome::Done: return "the drive rejected the health log request";
        case platform::TransportReply::Outcome::Refused:
            return "the kernel refused the command (" + platform::errorText(r.error) + ")";
        case platform::TransportReply::Outcome::TimedOut: return "the drive did not answer in time";
        case platform::TransportReply::Outcome::Offline: return "the device is gone";
    }
    return {};
}

}  // namespace

// One reading of one drive: its handle, its memory and the last failure seen.
class SmartReader::Session {
public:
    Session(platform::DriveHandle& h, Memory& m, platform::Platform& clock) : h_(h), m_(m), clock_(clock) {}

    // Sends a data-in command until a form returns data that `valid` accepts.
    std::optional<std::vector<std::byte>> data(const AtaRegisters& regs,
                                               const std::function<bool(std::span<const std::byte>)>& valid) {
        if (m_.givenUp) return std::nullopt;
        const std::uint32_t start = clock_.tickCount();
        for (const AtaForm form : order(m_.dataForm)) {
            if (clock_.tickCount() - start >= kSequenceBudgetMs) {
                lastFailure = "the drive did not answer within the time allowed";
                break;
            }
            std::vector<std::byte> buf(kSmartPageSize);
            const AtaOutcome o = platform::DecodeAtaReply(form, h_.ata(form, regs, buf, kCommandTimeoutMs));
            if (o.status == AtaStatus::Ok && valid(buf)) {
                m_.dataForm = form;
                return buf;
            }
            lastFailure = failureText(o);
            // The remembered form reached the drive and got an error or no answer: the drive
            // itself is the trouble, another form will not help. Data that merely looks wrong
            // (a bridge's own bytes) is worth another form.
            const bool driveFailed = o.status == AtaStatus::DeviceError || o.status == AtaStatus::TimedOut;
            if (o.status == AtaStatus::Offline || (driveFailed && m_.dataForm == form)) break;
        }
        giveUp();
        return std::nullopt;
    }

    // Sends a command without data; the first form the drive answers is kept.
    std::optional<AtaOutcome> nonData(const AtaRegisters& regs) {
        if (m_.givenUp) return std::nullopt;
        const std::uint32_t start = clock_.tickCount();
        for (const AtaForm form : order(m_.nonDataForm)) {
            if (clock_.tickCount() - start >= kSequenceBudgetMs) break;
            const AtaOutcome o = platform::DecodeAtaReply(form, h_.ata(form, regs, {}, kCommandTimeoutMs));
            if (o.status == AtaStatus::Ok) {
                m_.nonDataForm = form;
                return o;
            }
            if (o.status == AtaStatus::Offline || o.status == AtaStatus::TimedOut) break;
        }
        return std::nullopt;
    }

    std::string lastFailure;

private:
    static std::vector<AtaForm> order(std::optional<AtaForm> first) {
        std::vector<AtaForm> out;
        if (first) out.push_back(*first);
        for (const AtaForm f : platform::kAtaForms) {
            if (f != first) out.push_back(f);
        }
        return out;
    }
    void giveUp() {
        m_.givenUp = true;
        m_.why = lastFailure;
    }

    platform::DriveHandle& h_;
    Memory& m_;
    platform::Platform& clock_;
};

DrivePages SmartReader::Read(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (clearRequested_.exchange(false)) memory_.clear();
    DrivePages pages = readLocked(path);
    // A refresh during the reading: what it learnt belongs to the old drive list.
    if (clearRequested_.exchange(false)) memory_.clear();
    return pages;
}

DrivePages SmartReader::readLocked(const std::string& path) {
    DrivePages pages;
    platform::OpenDriveResult opened = commands_.openDrive(path);
    if (!opened.handle) {
        pages.State = ReadState::CannotOpen;
        pages.Detail = platform::errorText(opened.error);
        return pages;
    }
    platform::DriveHandle& h = *opened.handle;
    pages.Kind = h.kind();
    switch (pages.Kind) {
        case platform::DriveKind::Image:
            pages.State = ReadState::NotApplicable;
            return pages;
        case platform::DriveKind::Optical:
            pages.Detail = "optical drives carry no S.M.A.R.T. attributes";
            return pages;
        case platform::DriveKind::Nvme: {
            std::vector<std::byte> id(kNvmeIdentifySize), log(kNvmeHealthLogSize);
            const auto ok = [](const platform::TransportReply& r) {
                return r.outcome == platform::TransportReply::Outcome::Done && r.nvmeStatus == 0;
            };
            if (ok(h.nvmeAdmin({kNvmeIdentifyOp, 0, kNvmeCnsController, 0}, id, kCommandTimeoutMs))) {
                pages.NvmeIdentify = std::move(id);
            }
            const std::uint32_t dwords = kNvmeHealthLogSize / 4;
            const platform::TransportReply r =
                h.nvmeAdmin({kNvmeGetLogPage, kNvmeAllNamespaces, ((dwords - 1) << 16) | kNvmeHealthLogId, 0}, log,
                            kCommandTimeoutMs);
            if (ok(r)) {
                pages.NvmeHealth = std::move(log);
                pages.State = ReadState::Read;
            } else {
                pages.Detail = transportFailureText(r);
            }
            return pages;
        }
        case platform::DriveKind::Ata:
        case platform::DriveKind::Other: break;
    }

    Memory& m = memory_[path];
    if (m.givenUp) {
        pages.Detail = m.why;
        return pages;
    }
    Session s(h, m, clock_);
    if (auto id = s.data(identifyCommand(), [](auto b) { return ParseIdentify(b).has_value(); })) {
        pages.Identify = std::move(*id);
    }
    // The answer does not matter: drives with S.M.A.R.T. switched off say so on the reads.
    (void)s.nonData(smartCommand(kSmartEnable, false));
    if (!m.givenUp) {
        // A bridge that let its drive spin down answers the first command late or not at all;
        // an ordinary read wakes it.
        std::vector<std::byte> sector(kSmartPageSize);
        (void)h.readFirstSector(sector);
    }
    if (auto d = s.data(smartCommand(kSmartReadData, true), ValidSmartData)) pages.SmartData = std::move(*d);
    if (auto t = s.data(smartCommand(kSmartReadThresholds, true), [](auto) { return true; })) {
        pages.SmartThresholds = std::move(*t);
    }
    if (!pages.SmartData.empty()) {
        if (const auto o = s.nonData(smartCommand(kSmartReturnStatus, false)); o && o->output) {
            if (o->output->lbaMid == kSmartFailMid && o->output->lbaHigh == kSmartFailHigh) pages.Predict = 1;
            else if (o->output->lbaMid == kSmartKeyMid && o->output->lbaHigh == kSmartKeyHigh) pages.Predict = 0;
        }
    }
    if (!pages.SmartData.empty() && !pages.SmartThresholds.empty()) {
        pages.State = ReadState::Read;
    } else {
        pages.Detail = s.lastFailure.empty() ? m.why : s.lastFailure;
    }
    return pages;
}

void SmartReader::ClearMemory() {
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock()) {
        clearRequested_ = true;
        return;
    }
    memory_.clear();
    clearRequested_ = false;
}

std::optional<platform::AtaForm> SmartReader::RememberedDataForm(const std::string& path) const {
    std::lock_guard lock(mutex_);
    const auto it = memory_.find(path);
    return it == memory_.end() ? std::nullopt : it->second.dataForm;
}

std::optional<platform::AtaForm> SmartReader::RememberedNonDataForm(const std::string& path) const {
    std::lock_guard lock(mutex_);
    const auto it = memory_.find(path);
    return it == memory_.end() ? std::nullopt : it->second.nonDataForm;
}

bool SmartReader::GivenUp(const std::string& path) const {
    std::lock_guard lock(mutex_);
    const auto it = memory_.find(path);
    return it != memory_.end() && it->second.givenUp;
}

}  // namespace brenvale::health
