#pragma once
// Scripted drives for tests: which command forms reach each drive and how they fail, the
// pages it answers with, the sense format it reports registers in, time-outs on the virtual
// clock of a FakePlatform, and a log of every command sent.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/drive_commands.h"
#include "platform/fake/fake_platform.h"

namespace brenvale::platform::fake {

// How one command form behaves on a drive.
enum class FormBehaviour : std::uint8_t {
    Refused,         // the kernel refuses the ioctl (ENOTTY)
    IllegalRequest,  // sent, but the bridge answers ILLEGAL REQUEST
    DeviceError,     // sent; the drive aborts the command
    TimesOut,        // never answers; the virtual clock moves by the time-out
    Offline,         // the device is gone (ENODEV)
    Works,
};

enum class SenseFormat : std::uint8_t { Fixed, Descriptor };

struct SentCommand {
    AtaForm form;
    std::uint8_t command;
    std::uint8_t features;
    bool operator==(const SentCommand&) const = default;
};

struct FakeDrive {
    DriveKind kind = DriveKind::Ata;
    int openError = 0;  // errno that opening fails with; 0 opens
    std::map<AtaForm, FormBehaviour> forms;  // a form not listed is refused
    SenseFormat senseFormat = SenseFormat::Descriptor;
    std::uint32_t latencyMs = 0;  // virtual time every answered command takes

    // What the drive answers. Pages shorter than asked are padded with zeros, longer ones cut.
    std::vector<std::byte> identify;
    std::vector<std::byte> smartData;
    std::vector<std::byte> smartThresholds;
    std::map<AtaForm, std::vector<std::byte>> smartDataByForm;  // overrides smartData for one form
    bool predictsFailure = false;  // SMART RETURN STATUS answers F4h/2Ch instead of 4Fh/C2h
    bool returnStatusRegisters = true;  // false: the bridge returns no registers for it

    FormBehaviour nvme = FormBehaviour::Works;
    std::vector<std::byte> nvmeHealthLog;
    std::vector<std::byte> nvmeIdentify;

    TrimFacts trim;

    // What the tests read back.
    std::vector<SentCommand> sent;
    std::vector<NvmeAdminCommand> nvmeSent;
    std::uint32_t opens = 0;
    std::uint32_t firstSectorReads = 0;
    std::thread::id lastThread;  // the thread that sent the last command
};

class FakeDriveCommands final : public DriveCommands {
public:
    // `clock` is moved on by time-outs and latencies; it must outlive this object.
    explicit FakeDriveCommands(FakePlatform& clock) : clock_(clock) {}

    FakeDrive& add(const std::string& path, FakeDrive drive = {});
    FakeDrive& drive(const std::string& path) { return drives_.at(path); }

    OpenDriveResult openDrive(const std::string& path) override;
    TrimFacts trimFacts(const std::string& devicePath) override;

private:
    FakePlatform& clock_;
    std::map<std::string, FakeDrive> drives_;
};

// Sense bytes reporting `regs` as an ATA status return, in either format (the answer to a
// command sent with the check-condition bit).
std::vector<std::byte> AtaStatusSense(const AtaRegisters& regs, SenseFormat format);

}  // namespace brenvale::platform::fake
