#pragma once
// Commands sent to a drive itself rather than reads of its sectors: ATA commands (identify,
// S.M.A.R.T. data, thresholds, return status) through the forms the kernel offers, NVMe admin
// commands, and the disk facts that say whether the drive discards deleted blocks. One
// implementation talks to Linux (platform/linux), another is scripted for tests (platform/fake).

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace brenvale::platform {

// The ways an ATA command reaches a drive, in the order they are worth trying: SCSI
// pass-through reaches drives behind libata, USB and SAS bridges; the kernel's own ATA
// request is the way left for old IDE drivers.
enum class AtaForm : std::uint8_t { PassThrough16, PassThrough12, DriveCmd };
inline constexpr std::array<AtaForm, 3> kAtaForms{AtaForm::PassThrough16, AtaForm::PassThrough12, AtaForm::DriveCmd};
const char* AtaFormName(AtaForm form);

// The ATA task-file registers of a 28-bit command, in or out.
struct AtaRegisters {
    std::uint8_t features = 0;  // the error register on output
    std::uint8_t count = 0;
    std::uint8_t lbaLow = 0;
    std::uint8_t lbaMid = 0;
    std::uint8_t lbaHigh = 0;
    std::uint8_t device = 0;
    std::uint8_t command = 0;   // the status register on output
    bool operator==(const AtaRegisters&) const = default;
};

// What the kernel handed back for one command, undecoded: decoding the sense data is the same
// for every transport (see ata_reply.h).
struct TransportReply {
    enum class Outcome : std::uint8_t {
        Done,      // the command was sent; the status fields below tell how it ended
        Refused,   // the kernel or the driver does not offer this form for this device
        TimedOut,  // no answer within the time-out
        Offline,   // the device is gone
    };
    Outcome outcome = Outcome::Refused;
    int error = 0;                   // errno for Refused and Offline
    std::uint8_t scsiStatus = 0;     // pass-through forms: SCSI status (2 = check condition)
    std::vector<std::byte> sense;    // pass-through forms: the sense bytes returned
    std::uint8_t ataStatus = 0;      // the kernel's ATA request: status and error registers
    std::uint8_t ataError = 0;
    std::uint32_t nvmeStatus = 0;    // NVMe: the completion status field, 0 on success
};

// An NVMe admin command with a data-in buffer (Get Log Page, Identify).
struct NvmeAdminCommand {
    std::uint8_t opcode = 0;
    std::uint32_t nsid = 0;
    std::uint32_t cdw10 = 0;
    std::uint32_t cdw11 = 0;
};

enum class DriveKind : std::uint8_t {
    Ata,      // a SCSI-style disk that may sit on an ATA drive (sd*, hd*)
    Nvme,     // an NVMe namespace
    Optical,  // never sent ATA commands: an ATA PASS-THROUGH (12) opcode is a BLANK command there
    Image,    // a loop device: its data lives in a file, it has no health of its own
    Other,    // virtual and memory-card disks that carry no drive commands
};
const char* DriveKindName(DriveKind kind);

// An open drive. Commands block for at most their time-out (plus a little scheduling slack).
class DriveHandle {
public:
    virtual ~DriveHandle() = default;
    virtual DriveKind kind() const = 0;
    // Sends an ATA command with `data` as its data-in buffer (empty for a command without
    // data; otherwise whole 512-byte sectors).
    virtual TransportReply ata(AtaForm form, const AtaRegisters& in, std::span<std::byte> data,
                               std::uint32_t timeoutMs) = 0;
    virtual TransportReply nvmeAdmin(const NvmeAdminCommand& cmd, std::span<std::byte> data,
                                     std::uint32_t timeoutMs) = 0;
    // Reads `data.size()` bytes from the start of the device (wakes a sleeping bridge).
    virtual bool readFirstSector(std::span<std::byte> data) = 0;
};

struct OpenDriveResult {
    std::unique_ptr<DriveHandle> handle;  // null on failure
    int error = 0;                        // errno when `handle` is null
};

// What the disk under a device says about discarding blocks.
struct TrimFacts {
    bool known = false;          // the disk's queue facts could be read
    bool rotational = false;     // a spinning disk (a seek penalty)
    bool discard = false;        // the disk accepts discards (TRIM, UNMAP, deallocate)
    bool image = false;          // the disk is a loop device backed by a file
};

class DriveCommands {
public:
    virtual ~DriveCommands() = default;
    // Opens a whole disk for drive commands, read-only.
    virtual OpenDriveResult openDrive(const std::string& path) = 0;
    // The queue facts of the disk holding `devicePath` (a whole disk or a partition).
    virtual TrimFacts trimFacts(const std::string& devicePath) = 0;
};

// The drive commands of the system the program runs on.
std::unique_ptr<DriveCommands> makeSystemDriveCommands();

}  // namespace brenvale::platform
