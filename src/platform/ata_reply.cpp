#include "platform/ata_reply.h"

namespace brenvale::platform {

namespace {

constexpr std::uint8_t kSenseFixedCurrent = 0x70;
constexpr std::uint8_t kSenseFixedDeferred = 0x71;
constexpr std::uint8_t kSenseDescCurrent = 0x72;
constexpr std::uint8_t kSenseDescDeferred = 0x73;
constexpr std::size_t kDescriptorsStart = 8;
constexpr std::uint8_t kAtaStatusReturnDescriptor = 0x09;
constexpr std::size_t kAtaStatusReturnLength = 14;  // code, length byte, 12 bytes of registers
constexpr std::size_t kFixedAtaInfoLength = 14;     // through the ASC/ASCQ bytes
constexpr std::size_t kFixedLbaFieldsEnd = 12;      // the command-specific field ends at byte 11

constexpr std::uint8_t kKeyNoSense = 0x0;
constexpr std::uint8_t kKeyRecovered = 0x1;
constexpr std::uint8_t kKeyIllegalRequest = 0x5;
// Recovered error with 00h/1Dh: "ATA pass through information available", the answer to a
// command sent with the check-condition bit, not an error.
constexpr std::uint8_t kAscAtaInfo = 0x00;
constexpr std::uint8_t kAscqAtaInfo = 0x1D;

constexpr std::uint8_t kAtaStatusErr = 0x01;
constexpr std::uint8_t kAtaStatusDeviceFault = 0x20;

constexpr std::uint8_t kProtocolNonData = 3;
constexpr std::uint8_t kProtocolPioIn = 4;
// Flags: check condition (bit 5), transfer from the device (bit 3), length in blocks (bit 2),
// length in the sector count field (bits 1-0 = 2).
constexpr std::uint8_t kFlagCheckCondition = 0x20;
constexpr std::uint8_t kFlagsDataIn = 0x0E;

std::uint8_t at(std::span<const std::byte> s, std::size_t i) { return i < s.size() ? static_cast<std::uint8_t>(s[i]) : 0; }

std::optional<AtaRegisters> descriptorRegisters(std::span<const std::byte> sense) {
    // The additional length counts the bytes after byte 7; trust only what was returned.
    std::size_t end = kDescriptorsStart + at(sense, 7);
    if (end > sense.size()) end = sense.size();
    std::size_t off = kDescriptorsStart;
    while (off + 2 <= end) {
        const std::uint8_t code = at(sense, off);
        const std::size_t len = std::size_t{2} + at(sense, off + 1);
        if (off + len > end) break;
        if (code == kAtaStatusReturnDescriptor && len >= kAtaStatusReturnLength) {
            const auto d = sense.subspan(off, len);
            AtaRegisters r;
            r.features = at(d, 3);  // error
            r.count = at(d, 5);
            r.lbaLow = at(d, 7);
            r.lbaMid = at(d, 9);
            r.lbaHigh = at(d, 11);
            r.device = at(d, 12);
            r.command = at(d, 13);  // status
            return r;
        }
        off += len;
    }
    return std::nullopt;
}

}  // namespace

const char* AtaFormName(AtaForm form) {
    switch (form) {
        case AtaForm::PassThrough16: return "ATA PASS-THROUGH (16)";
        case AtaForm::PassThrough12: return "ATA PASS-THROUGH (12)";
        case AtaForm::DriveCmd: return "kernel ATA request";
    }
    return "?";
}

const char* DriveKindName(DriveKind kind) {
    switch (kind) {
        case DriveKind::Ata: return "ata";
        case DriveKind::Nvme: return "nvme";
        case DriveKind::Optical: return "optical";
        case DriveKind::Image: return "image";
        case DriveKind::Other: return "other";
    }
    return "?";
}

const char* AtaStatusName(AtaStatus status) {
    switch (status) {
        case AtaStatus::Ok: return "ok";
        case AtaStatus::Refused: return "refused";
        case AtaStatus::DeviceError: return "device error";
        case AtaStatus::TimedOut: return "timed out";
        case AtaStatus::Offline: return "offline";
    }
    return "?";
}

std::optional<SenseFacts> ParseSense(std::span<const std::byte> sense) {
    const std::uint8_t code = at(sense, 0) & 0x7F;
    SenseFacts f;
    if (code == kSenseDescCurrent || code == kSenseDescDeferred) {
        if (sense.size() < 4) return std::nullopt;
        f.key = at(sense, 1) & 0x0F;
        f.asc = at(sense, 2);
        f.ascq = at(sense, 3);
        f.ata = descriptorRegisters(sense);
        return f;
    }
    if (code == kSenseFixedCurrent || code == kSenseFixedDeferred) {
        if (sense.size() < 3) return std::nullopt;
        f.key = at(sense, 2) & 0x0F;
        if (sense.size() >= kFixedAtaInfoLength) {
            f.asc = at(sense, 12);
            f.ascq = at(sense, 13);
            // With 00h/1Dh the information field holds error, status, device and count, and
            // the command-specific field the three LBA bytes.
            if (f.asc == kAscAtaInfo && f.ascq == kAscqAtaInfo && sense.size() >= kFixedLbaFieldsEnd) {
                AtaRegisters r;
                r.features = at(sense, 3);
                r.command = at(sense, 4);
                r.device = at(sense, 5);
                r.count = at(sense, 6);
                r.lbaLow = at(sense, 9);
                r.lbaMid = at(sense, 10);
                r.lbaHigh = at(sense, 11);
                f.ata = r;
            }
        }
        return f;
    }
    return std::nullopt;
}

AtaOutcome DecodeAtaReply(AtaForm form, const TransportReply& reply) {
    AtaOutcome o;
    o.error = reply.error;
    switch (reply.outcome) {
        case TransportReply::Outcome::Refused: o.status = AtaStatus::Refused; return o;
        case TransportReply::Outcome::TimedOut: o.status = AtaStatus::TimedOut; return o;
        case TransportReply::Outcome::Offline: o.status = AtaStatus::Offline; return o;
        case TransportReply::Outcome::Done: break;
    }
    if (form == AtaForm::DriveCmd) {
        // The kernel's request gives back status and error only; no output registers.
        o.status = (reply.ataStatus & (kAtaStatusErr | kAtaStatusDeviceFault)) ? AtaStatus::DeviceError : AtaStatus::Ok;
        return o;
    }
    const std::optional<SenseFacts> sense = ParseSense(reply.sense);
    if (!sense) {
        o.status = reply.scsiStatus == 0 ? AtaStatus::Ok : AtaStatus::DeviceError;
        return o;
    }
    o.output = sense->ata;
    const bool ataInfo = sense->key == kKeyRecovered && sense->asc == kAscAtaInfo && sense->ascq == kAscqAtaInfo;
    if (sense->key == kKeyIllegalRequest) {
        // The bridge or the translation layer does not know the command block.
        o.status = AtaStatus::Refused;
    } else if (sense->key != kKeyNoSense && !ataInfo) {
        o.status = AtaStatus::DeviceError;
    } else if (o.output && (o.output->command & (kAtaStatusErr | kAtaStatusDeviceFault))) {
        o.status = AtaStatus::DeviceError;
    } else {
        o.status = AtaStatus::Ok;
    }
    return o;
}

std::array<std::uint8_t, 16> AtaPassThrough16(const AtaRegisters& in, bool dataIn, bool checkCondition) {
    std::array<std::uint8_t, 16> c{};
    c[0] = kAtaPassThrough16Op;
    c[1] = static_cast<std::uint8_t>((dataIn ? kProtocolPioIn : kProtocolNonData) << 1);
    c[2] = static_cast<std::uint8_t>((dataIn ? kFlagsDataIn : 0) | (checkCondition ? kFlagCheckCondition : 0));
    c[4] = in.features;
    c[6] = in.count;
    c[8] = in.lbaLow;
    c[10] = in.lbaMid;
    c[12] = in.lbaHigh;
    c[13] = in.device;
    c[14] = in.command;
    return c;
}

std::array<std::uint8_t, 12> AtaPassThrough12(const AtaRegisters& in, bool dataIn, bool checkCondition) {
    std::array<std::uint8_t, 12> c{};
    c[0] = kAtaPassThrough12Op;
    c[1] = static_cast<std::uint8_t>((dataIn ? kProtocolPioIn : kProtocolNonData) << 1);
    c[2] = static_cast<std::uint8_t>((dataIn ? kFlagsDataIn : 0) | (checkCondition ? kFlagCheckCondition : 0));
    c[3] = in.features;
    c[4] = in.count;
    c[5] = in.lbaLow;
    c[6] = in.lbaMid;
    c[7] = in.lbaHigh;
    c[8] = in.device;
    c[9] = in.command;
    return c;
}

}  // namespace brenvale::platform
