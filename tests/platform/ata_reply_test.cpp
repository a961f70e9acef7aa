// Command blocks of the ATA pass-through forms and the decoding of what comes back: sense
// data in fixed and descriptor format, refusals, errors and truncated answers.

#include <gtest/gtest.h>

#include "platform/ata_reply.h"
#include "platform/fake/fake_drive_commands.h"

namespace brenvale::platform {
namespace {

using fake::AtaStatusSense;
using fake::SenseFormat;

std::vector<std::byte> bytes(std::initializer_list<int> v) {
    std::vector<std::byte> out;
    for (int b : v) out.push_back(static_cast<std::byte>(b));
    return out;
}

const AtaRegisters kSmartReadData{0xD0, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0};

TEST(AtaCommandBlockTest, PassThrough16And12PlaceTheRegisters) {
    const auto c16 = AtaPassThrough16(kSmartReadData, true, false);
    const std::array<std::uint8_t, 16> want16{0x85, 0x08, 0x0E, 0, 0xD0, 0, 1, 0, 1, 0, 0x4F, 0, 0xC2, 0xA0, 0xB0, 0};
    EXPECT_EQ(c16, want16);
    const auto c12 = AtaPassThrough12(kSmartReadData, true, false);
    const std::array<std::uint8_t, 12> want12{0xA1, 0x08, 0x0E, 0xD0, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0, 0, 0};
    EXPECT_EQ(c12, want12);
    // Without data: non-data protocol, and the registers asked back through the sense data.
    const auto n16 = AtaPassThrough16(kSmartReadData, false, true);
    EXPECT_EQ(n16[1], 0x06);
    EXPECT_EQ(n16[2], 0x20);
}

TEST(AtaReplyTest, StatusRegistersComeBackInBothSenseFormats) {
    const AtaRegisters out{0, 0, 0, 0xF4, 0x2C, 0xA0, 0x50};
    for (const SenseFormat f : {SenseFormat::Fixed, SenseFormat::Descriptor}) {
        TransportReply r{TransportReply::Outcome::Done};
        r.scsiStatus = 2;
        r.sense = AtaStatusSense(out, f);
        const AtaOutcome o = DecodeAtaReply(AtaForm::PassThrough16, r);
        EXPECT_EQ(o.status, AtaStatus::Ok) << static_cast<int>(f);
        ASSERT_TRUE(o.output) << static_cast<int>(f);
        EXPECT_EQ(o.output->lbaMid, 0xF4);
        EXPECT_EQ(o.output->lbaHigh, 0x2C);
        EXPECT_EQ(o.output->command, 0x50);
    }
}

TEST(AtaReplyTest, OutcomesOfSenseAndTransport) {
    struct Case {
        const char* name;
        TransportReply reply;
        AtaStatus status;
        bool registers;
    };
    const auto done = [](std::uint8_t scsi, std::vector<std::byte> sense) {
        TransportReply r{TransportReply::Outcome::Done};
        r.scsiStatus = scsi;
        r.sense = std::move(sense);
        return r;
    };
    auto errorRegs = AtaStatusSense({0x04, 0, 0, 0, 0, 0xA0, 0x51}, SenseFormat::Descriptor);
    auto truncated = AtaStatusSense({0, 0, 0, 0x4F, 0xC2, 0xA0, 0x50}, SenseFormat::Descriptor);
    truncated.resize(16);  // the descriptor is cut short
    auto lying = AtaStatusSense({0, 0, 0, 0x4F, 0xC2, 0xA0, 0x50}, SenseFormat::Descriptor);
    lying[7] = std::byte{200};  // claims more than was returned
    lying.resize(12);
    const Case cases[] = {
        {"no sense, good status", done(0, {}), AtaStatus::Ok, false},
        {"no sense, check condition", done(2, {}), AtaStatus::DeviceError, false},
        {"no sense key", done(2, bytes({0x70, 0, 0, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})), AtaStatus::Ok, false},
        {"illegal request, fixed", done(2, bytes({0x70, 0, 5, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0, 0, 0, 0, 0})),
         AtaStatus::Refused, false},
        {"illegal request, descriptor", done(2, bytes({0x72, 5, 0x24, 0, 0, 0, 0, 0})), AtaStatus::Refused, false},
        {"aborted command", done(2, bytes({0x72, 0x0B, 0, 0, 0, 0, 0, 0})), AtaStatus::DeviceError, false},
        {"medium error", done(2, bytes({0x70, 0, 3, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0, 0, 0, 0, 0})),
         AtaStatus::DeviceError, false},
        {"recovered with the ATA error bit", done(2, errorRegs), AtaStatus::DeviceError, true},
        {"truncated descriptor", done(2, truncated), AtaStatus::Ok, false},
        {"additional length past the end", done(2, lying), AtaStatus::Ok, false},
        {"unknown response code", done(2, bytes({0x7F, 0, 0, 0})), AtaStatus::DeviceError, false},
        {"one byte of sense", done(2, bytes({0x72})), AtaStatus::DeviceError, false},
        {"refused", TransportReply{TransportReply::Outcome::Refused, 25}, AtaStatus::Refused, false},
        {"timed out", TransportReply{TransportReply::Outcome::TimedOut}, AtaStatus::TimedOut, false},
        {"offline", TransportReply{TransportReply::Outcome::Offline, 19}, AtaStatus::Offline, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const AtaOutcome o = DecodeAtaReply(AtaForm::PassThrough12, c.reply);
        EXPECT_EQ(o.status, c.status) << AtaStatusName(o.status);
        EXPECT_EQ(o.output.has_value(), c.registers);
    }
}

TEST(AtaReplyTest, KernelAtaRequestReadsTheStatusRegister) {
    TransportReply r{TransportReply::Outcome::Done};
    r.ataStatus = 0x50;
    EXPECT_EQ(DecodeAtaReply(AtaForm::DriveCmd, r).status, AtaStatus::Ok);
    r.ataStatus = 0x51;
    EXPECT_EQ(DecodeAtaReply(AtaForm::DriveCmd, r).status, AtaStatus::DeviceError);
    r.ataStatus = 0x70;  // device fault
    EXPECT_EQ(DecodeAtaReply(AtaForm::DriveCmd, r).status, AtaStatus::DeviceError);
    EXPECT_FALSE(DecodeAtaReply(AtaForm::DriveCmd, r).output);
}

}  // namespace
}  // namespace brenvale::platform
