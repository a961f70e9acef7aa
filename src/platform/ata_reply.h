#pragma once
// Decoding what a drive answered to an ATA command: the SCSI sense data of the pass-through
// forms (fixed and descriptor format) and the registers of the kernel's own ATA request. The
// same for every transport, so the scripted one tests it.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "platform/drive_commands.h"

namespace brenvale::platform {

enum class AtaStatus : std::uint8_t {
    Ok,           // the drive ran the command
    Refused,      // this form does not reach the drive (kernel, driver or bridge says no)
    DeviceError,  // the command reached the drive, which reported an error
    TimedOut,
    Offline,
};
const char* AtaStatusName(AtaStatus status);

struct AtaOutcome {
    AtaStatus status = AtaStatus::Refused;
    int error = 0;                        // errno when refused by the kernel
    std::optional<AtaRegisters> output;   // the registers the drive returned, when reported
};

// The parts of sense data that decide an ATA pass-through command.
struct SenseFacts {
    std::uint8_t key = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
    std::optional<AtaRegisters> ata;  // the ATA status return (descriptor 09h or fixed-format fields)
};
// Nullopt when `sense` holds no recognisable sense data (empty, too short, unknown format).
std::optional<SenseFacts> ParseSense(std::span<const std::byte> sense);

AtaOutcome DecodeAtaReply(AtaForm form, const TransportReply& reply);

// The command blocks of ATA PASS-THROUGH (16) and (12). `protocol` is the SAT protocol field
// (4 PIO data-in, 3 non-data); a data-in command transfers `sectors` 512-byte blocks counted
// in the sector count field; `checkCondition` asks for the output registers in the sense data.
std::array<std::uint8_t, 16> AtaPassThrough16(const AtaRegisters& in, bool dataIn, bool checkCondition);
std::array<std::uint8_t, 12> AtaPassThrough12(const AtaRegisters& in, bool dataIn, bool checkCondition);

inline constexpr std::uint8_t kAtaPassThrough16Op = 0x85;
inline constexpr std::uint8_t kAtaPassThrough12Op = 0xA1;

}  // namespace brenvale::platform
