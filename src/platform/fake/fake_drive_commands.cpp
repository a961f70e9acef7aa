#include "platform/fake/fake_drive_commands.h"

#include <algorithm>
#include <cerrno>

namespace brenvale::platform::fake {

namespace {

constexpr std::uint8_t kAtaSmart = 0xB0;
constexpr std::uint8_t kSmartReadData = 0xD0;
constexpr std::uint8_t kSmartReadThresholds = 0xD1;
constexpr std::uint8_t kSmartReturnStatus = 0xDA;
constexpr std::uint8_t kAtaIdentify = 0xEC;
constexpr std::uint8_t kNvmeGetLogPage = 0x02;
constexpr std::uint8_t kNvmeIdentify = 0x06;

void copyPadded(const std::vector<std::byte>& from, std::span<std::byte> to) {
    std::fill(to.begin(), to.end(), std::byte{0});
    std::copy_n(from.begin(), std::min(from.size(), to.size()), to.begin());
}

std::vector<std::byte> bytes(std::initializer_list<int> v) {
    std::vector<std::byte> out;
    for (int b : v) out.push_back(static_cast<std::byte>(b));
    return out;
}

class FakeHandle final : public DriveHandle {
public:
    FakeHandle(FakeDrive& d, FakePlatform& clock) : d_(d), clock_(clock) {}
    DriveKind kind() const override { return d_.kind; }

    TransportReply ata(AtaForm form, const AtaRegisters& in, std::span<std::byte> data,
                       std::uint32_t timeoutMs) override {
        d_.sent.push_back({form, in.command, in.features});
        d_.lastThread = std::this_thread::get_id();
        const auto it = d_.forms.find(form);
        const FormBehaviour b = it == d_.forms.end() ? FormBehaviour::Refused : it->second;
        if (b != FormBehaviour::Works) return failure(b, form, timeoutMs);
        clock_.advance(d_.latencyMs);
        TransportReply r{TransportReply::Outcome::Done};
        if (in.command == kAtaIdentify) {
            copyPadded(d_.identify, data);
        } else if (in.command == kAtaSmart && in.features == kSmartReadData) {
            const auto over = d_.smartDataByForm.find(form);
            copyPadded(over != d_.smartDataByForm.end() ? over->second : d_.smartData, data);
        } else if (in.command == kAtaSmart && in.features == kSmartReadThresholds) {
            copyPadded(d_.smartThresholds, data);
        } else if (in.command == kAtaSmart && in.features == kSmartReturnStatus && d_.returnStatusRegisters &&
                   form != AtaForm::DriveCmd) {
            AtaRegisters out{};
            out.lbaMid = d_.predictsFailure ? 0xF4 : 0x4F;
            out.lbaHigh = d_.predictsFailure ? 0x2C : 0xC2;
            out.command = 0x50;  // drive ready, seek complete
            r.scsiStatus = 2;
            r.sense = AtaStatusSense(out, d_.senseFormat);
        }
        if (form == AtaForm::DriveCmd) r.ataStatus = 0x50;
        return r;
    }

    TransportReply nvmeAdmin(const NvmeAdminCommand& cmd, std::span<std::byte> data, std::uint32_t timeoutMs) override {
        d_.nvmeSent.push_back(cmd);
        d_.lastThread = std::this_thread::get_id();
        if (d_.kind != DriveKind::Nvme) return {TransportReply::Outcome::Refused, EOPNOTSUPP};
        if (d_.nvme != FormBehaviour::Works) return failure(d_.nvme, AtaForm::DriveCmd, timeoutMs);
        clock_.advance(d_.latencyMs);
        if (cmd.opcode == kNvmeGetLogPage) copyPadded(d_.nvmeHealthLog, data);
        if (cmd.opcode == kNvmeIdentify) copyPadded(d_.nvmeIdentify, data);
        return {TransportReply::Outcome::Done};
    }

    bool readFirstSector(std::span<std::byte> data) override {
        ++d_.firstSectorReads;
        std::fill(data.begin(), data.end(), std::byte{0});
        return true;
    }

private:
    TransportReply failure(FormBehaviour b, AtaForm form, std::uint32_t timeoutMs) {
        switch (b) {
            case FormBehaviour::Refused: return {TransportReply::Outcome::Refused, ENOTTY};
            case FormBehaviour::Offline: return {TransportReply::Outcome::Offline, ENODEV};
            case FormBehaviour::TimesOut:
                clock_.advance(timeoutMs);
                return {TransportReply::Outcome::TimedOut, ETIMEDOUT};
            case FormBehaviour::IllegalRequest: {
                // Fixed-format sense: ILLEGAL REQUEST, INVALID COMMAND OPERATION CODE.
                TransportReply r{TransportReply::Outcome::Done};
                r.scsiStatus = 2;
                r.sense = bytes({0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0x00, 0, 0, 0, 0});
                return r;
            }
            case FormBehaviour::DeviceError: {
                TransportReply r{TransportReply::Outcome::Done};
                if (form == AtaForm::DriveCmd) {
                    r.ataStatus = 0x51;  // error bit set
                    r.ataError = 0x04;   // aborted
                    return r;
                }
                AtaRegisters out{};
                out.features = 0x04;
                out.command = 0x51;
                r.scsiStatus = 2;
                r.sense = AtaStatusSense(out, d_.senseFormat);
                // An aborted command comes back as ABORTED COMMAND, not as information.
                if (d_.senseFormat == SenseFormat::Descriptor) r.sense[1] = std::byte{0x0B};
                else r.sense[2] = std::byte{0x0B};
                return r;
            }
            case FormBehaviour::Works: break;
        }
        return {TransportReply::Outcome::Done};
    }

    FakeDrive& d_;
    FakePlatform& clock_;
};

}  // namespace

std::vector<std::byte> AtaStatusSense(const AtaRegisters& r, SenseFormat format) {
    if (format == SenseFormat::Descriptor) {
        // Response 72h, RECOVERED ERROR, 00h/1Dh, one ATA status return descriptor (09h).
        return bytes({0x72, 0x01, 0x00, 0x1D, 0, 0, 0, 14,                                  //
                      0x09, 0x0C, 0x00, r.features, 0, r.count, 0, r.lbaLow, 0, r.lbaMid, 0,  //
                      r.lbaHigh, r.device, r.command});
    }
    // Response 70h: error, status, device, count in the information field, the LBA bytes in
    // the command-specific field.
    return bytes({0x70, 0, 0x01, r.features, r.command, r.device, r.count, 10, 0, r.lbaLow, r.lbaMid, r.lbaHigh,
                  0x00, 0x1D, 0, 0, 0, 0});
}

FakeDrive& FakeDriveCommands::add(const std::string& path, FakeDrive drive) {
    return drives_[path] = std::move(drive);
}

OpenDriveResult FakeDriveCommands::openDrive(const std::string& path) {
    const auto it = drives_.find(path);
    if (it == drives_.end()) return {nullptr, ENOENT};
    ++it->second.opens;
    if (it->second.openError != 0) return {nullptr, it->second.openError};
    return {std::make_unique<FakeHandle>(it->second, clock_), 0};
}

TrimFacts FakeDriveCommands::trimFacts(const std::string& devicePath) {
    const auto it = drives_.find(devicePath);
    return it == drives_.end() ? TrimFacts{} : it->second.trim;
}

}  // namespace brenvale::platform::fake
