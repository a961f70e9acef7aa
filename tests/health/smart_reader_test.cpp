// Reading drives through the scripted transport: the order of the command forms, the form
// remembered per drive, giving up on a drive, time-outs against the budget, drives that must
// never see an ATA command, and NVMe drives.

#include <gtest/gtest.h>

#include "health/drive_health.h"
#include "health/health_pages.h"
#include "health/smart_reader.h"
#include "platform/fake/fake_drive_commands.h"

namespace brenvale::health {
namespace {

using platform::AtaForm;
using platform::DriveKind;
using platform::fake::FakeDrive;
using platform::fake::FormBehaviour;
using platform::fake::SenseFormat;
using platform::fake::SentCommand;

constexpr std::uint8_t kIdentify = 0xEC, kSmart = 0xB0;
constexpr char kPath[] = "/dev/sdb";

class SmartReaderTest : public ::testing::Test {
protected:
    // A drive that answers everything once a form reaches it.
    static FakeDrive healthyDrive() {
        FakeDrive d;
        d.identify = test::IdentifyPage("ST4000DM004-2CV104", "ZFN1ABCD", "0001");
        d.smartData = test::SmartDataPage({{1, 100, 100, 0}, {5, 100, 100, 0}, {9, 90, 90, 8000}, {194, 40, 40, 40}});
        d.smartThresholds = test::SmartThresholdPage({{1, 6}, {5, 10}, {9, 0}, {194, 0}});
        return d;
    }
    FakeDrive& add(FakeDrive d) { return drives_.add(kPath, std::move(d)); }
    static std::vector<AtaForm> formsOf(const FakeDrive& d, std::uint8_t command, std::uint8_t features = 0) {
        std::vector<AtaForm> out;
        for (const SentCommand& c : d.sent) {
            if (c.command == command && (command != kSmart || c.features == features)) out.push_back(c.form);
        }
        return out;
    }

    platform::fake::FakePlatform clock_;
    platform::fake::FakeDriveCommands drives_{clock_};
    SmartReader reader_{drives_, clock_};
};

TEST_F(SmartReaderTest, FormsAreTriedInOrderAndTheWorkingOneIsRememberedPerDrive) {
    FakeDrive d = healthyDrive();
    d.forms = {{AtaForm::PassThrough16, FormBehaviour::IllegalRequest}, {AtaForm::PassThrough12, FormBehaviour::Works},
               {AtaForm::DriveCmd, FormBehaviour::Works}};
    FakeDrive& drive = add(d);
    const DrivePages first = reader_.Read(kPath);
    EXPECT_EQ(first.State, ReadState::Read);
    EXPECT_EQ(formsOf(drive, kIdentify), (std::vector{AtaForm::PassThrough16, AtaForm::PassThrough12}));
    // Once a form worked, the later commands go straight to it.
    EXPECT_EQ(formsOf(drive, kSmart, 0xD0), (std::vector{AtaForm::PassThrough12}));
    EXPECT_EQ(reader_.RememberedDataForm(kPath), AtaForm::PassThrough12);
    EXPECT_EQ(drive.firstSectorReads, 1u);

    drive.sent.clear();
    EXPECT_EQ(reader_.Read(kPath).State, ReadState::Read);
    EXPECT_EQ(formsOf(drive, kIdentify), (std::vector{AtaForm::PassThrough12}));
    EXPECT_FALSE(reader_.RememberedDataForm("/dev/sdc"));
}

TEST_F(SmartReaderTest, KernelAtaRequestIsTheLastWay) {
    FakeDrive d = healthyDrive();
    d.forms = {{AtaForm::DriveCmd, FormBehaviour::Works}};
    FakeDrive& drive = add(d);
    const DrivePages p = reader_.Read(kPath);
    EXPECT_EQ(p.State, ReadState::Read);
    EXPECT_EQ(formsOf(drive, kIdentify), (std::vector{AtaForm::PassThrough16, AtaForm::PassThrough12, AtaForm::DriveCmd}));
    // That request returns no registers: the drive's own prediction stays unknown.
    EXPECT_EQ(p.Predict, -1);
    EXPECT_EQ(Evaluate(p).Level, kLevelNormal);
}

TEST_F(SmartReaderTest, FailurePredictionComesBackInEitherSenseFormat) {
    for (const SenseFormat f : {SenseFormat::Fixed, SenseFormat::Descriptor}) {
        for (const bool failing : {false, true}) {
            FakeDrive d = healthyDrive();
            d.forms = {{AtaForm::PassThrough16, FormBehaviour::Works}};
            d.senseFormat = f;
            d.predictsFailure = failing;
            add(d);
            reader_.ClearMemory();
            const DrivePages p = reader_.Read(kPath);
            EXPECT_EQ(p.Predict, failing ? 1 : 0) << static_cast<int>(f);
        }
    }
    FakeDrive silent = healthyDrive();
    silent.forms = {{AtaForm::PassThrough16, FormBehaviour::Works}};
    silent.returnStatusRegisters = false;
    add(silent);
    reader_.ClearMemory();
    EXPECT_EQ(reader_.Read(kPath).Predict, -1);
}

TEST_F(SmartReaderTest, DataPageWithTooFewSlotsIsRejectedAndTheNextFormTried) {
    FakeDrive d = healthyDrive();
    d.forms = {{AtaForm::PassThrough16, FormBehaviour::Works}, {AtaForm::PassThrough12, FormBehaviour::Works}};
    d.smartDataByForm[AtaForm::PassThrough16] = test::SmartDataPage({{1, 100, 100, 0}, {5, 100, 100, 0}});
    FakeDrive& drive = add(d);
    const DrivePages p = reader_.Read(kPath);
    EXPECT_EQ(p.State, ReadState::Read);
    EXPECT_EQ(formsOf(drive, kSmart, 0xD0), (std::vector{AtaForm::PassThrough16, AtaForm::PassThrough12}));
    EXPECT_EQ(p.SmartData, drive.smartData);
}

TEST_F(SmartReaderTest, DriveThatNeverAnswersIsGivenUpUntilTheListIsRefreshed) {
    FakeDrive d = healthyDrive();
    d.forms = {{AtaForm::PassThrough16, FormBehaviour::TimesOut}, {AtaForm::PassThrough12, FormBehaviour::TimesOut},
               {AtaForm::DriveCmd, FormBehaviour::TimesOut}};
    FakeDrive& drive = add(d);
    const std::uint32_t start = clock_.now;
    const DrivePages p = reader_.Read(kPath);
    EXPECT_EQ(p.State, ReadState::NotAvailable);
    EXPECT_EQ(p.Detail, "the drive did not answer in time");
    EXPECT_TRUE(reader_.GivenUp(kPath));
    // Three forms of one command, each its own time-out; nothing after the first command.
    EXPECT_EQ(drive.sent.size(), 3u);
    EXPECT_EQ(clock_.now - start, 3 * kCommandTimeoutMs);

    drive.sent.clear();
    EXPECT_EQ(reader_.Read(kPath).State, ReadState::NotAvailable);
    EXPECT_TRUE(drive.sent.empty());

    reader_.ClearMemory();
    drive.forms[AtaForm::PassThrough12] = FormBehaviour::Works;
    EXPECT_EQ(reader_.Read(kPath).State, ReadState::Read);
}

TEST_F(SmartReaderTest, AttemptsStopWhenTheBudgetIsSpent) {
    FakeDrive d = healthyDrive();
    // Each answer takes 7 s and is not usable: after two the 12 s are gone.
    d.latencyMs = 7000;
    d.identify = std::vector<std::byte>(512);
    d.forms = {{AtaForm::PassThrough16, FormBehaviour::Works}, {AtaForm::PassThrough12, FormBehaviour::Works},
               {AtaForm::DriveCmd, FormBehaviour::Works}};
    FakeDrive& drive = add(d);
    const DrivePages p = reader_.Read(kPath);
    EXPECT_EQ(formsOf(drive, kIdentify), (std::vector{AtaForm::PassThrough16, AtaForm::PassThrough12}));
    EXPECT_EQ(p.State, ReadState::NotAvailable);
    EXPECT_EQ(p.Detail, "the drive did not answer within the time allowed");
}

TEST_F(SmartReaderTest, RememberedFormThatStopsWorkingGivesTheDriveUp) {
    FakeDrive d = healthyDrive();
    d.forms = {{AtaForm::PassThrough16, FormBehaviour::Works}, {AtaForm::PassThrough12, FormBehaviour::Works}};
    FakeDrive& drive = add(d);
    ASSERT_EQ(reader_.Read(kPath).State, ReadState::Read);
    drive.forms[AtaForm::PassThrough16] = FormBehaviour::DeviceError;
    drive.sent.clear();
    const DrivePages p = reader_.Read(kPath);
    EXPECT_EQ(p.State, ReadState::NotAvailable);
    EXPECT_EQ(p.Detail, "the drive rejected the command");
    // The other form is not probed: the command reached the drive and it said no.
    EXPECT_EQ(formsOf(drive, kIdentify), (std::vector{AtaForm::PassThrough16}));
    EXPECT_TRUE(reader_.GivenUp(kPath));
}

TEST_F(SmartReaderTest, KernelRefusalAndOfflineDrivesSayWhy) {
    FakeDrive refused = healthyDrive();  // no form listed: every ioctl is refused
    FakeDrive& drive = add(refused);
    const DrivePages p = reader_.Read(kPath);
    EXPECT_EQ(p.State, ReadState::NotAvailable);
    EXPECT_EQ(p.Detail.rfind("the kernel refused the command (", 0), 0u) << p.Detail;
    EXPECT_EQ(drive.sent.size(), 3u);

    FakeDrive gone = healthyDrive();
    gone.forms = {{AtaForm::PassThrough16, FormBehaviour::Offline}, {AtaForm::PassThrough12, FormBehaviour::Works}};
    FakeDrive& g = drives_.add("/dev/sdc", gone);
    EXPECT_EQ(reader_.Read("/dev/sdc").Detail, "the device is gone");
    EXPECT_EQ(g.sent.size(), 1u);

    FakeDrive closed;
    closed.openError = 13;
    drives_.add("/dev/sdd", closed);
    EXPECT_EQ(reader_.Read("/dev/sdd").State, ReadState::CannotOpen);
    EXPECT_EQ(reader_.Read("/dev/sde").State, ReadState::CannotOpen);
}

TEST_F(SmartReaderTest, OpticalDrivesAndImagesAreNeverSentAtaCommands) {
    for (const DriveKind kind : {DriveKind::Optical, DriveKind::Image}) {
        FakeDrive d = healthyDrive();
        d.kind = kind;
        d.forms = {{AtaForm::PassThrough16, FormBehaviour::Works}, {AtaForm::PassThrough12, FormBehaviour::Works}};
        FakeDrive& drive = add(d);
        const DrivePages p = reader_.Read(kPath);
        EXPECT_TRUE(drive.sent.empty()) << platform::DriveKindName(kind);
        EXPECT_EQ(drive.firstSectorReads, 0u);
        EXPECT_EQ(p.State, kind == DriveKind::Image ? ReadState::NotApplicable : ReadState::NotAvailable);
    }
}

TEST_F(SmartReaderTest, NvmeDrivesGiveTheirHealthLog) {
    FakeDrive d;
    d.kind = DriveKind::Nvme;
    d.nvmeIdentify = test::NvmeIdentifyPage("WD Blue SN570 1TB", "22123A456789", "234110WD");
    test::NvmeLogFields f;
    f.criticalWarning = 0x04;
    d.nvmeHealthLog = test::NvmeHealthLogPage(f);
    FakeDrive& drive = drives_.add("/dev/nvme0n1", d);
    const DrivePages p = reader_.Read("/dev/nvme0n1");
    EXPECT_EQ(p.State, ReadState::Read);
    EXPECT_TRUE(drive.sent.empty());
    ASSERT_EQ(drive.nvmeSent.size(), 2u);
    const platform::NvmeAdminCommand& log = drive.nvmeSent[1];
    EXPECT_EQ(log.opcode, 0x02);
    EXPECT_EQ(log.nsid, 0xFFFFFFFFu);
    EXPECT_EQ(log.cdw10, (127u << 16) | 0x02);  // 128 dwords of log 02h
    const HealthReport r = Evaluate(p);
    EXPECT_EQ(r.Identity.Model, "WD Blue SN570 1TB");
    EXPECT_EQ(r.Level, kLevelDangerous);
    EXPECT_EQ(r.WorstName, "Reliability Degraded");

    drive.nvme = FormBehaviour::TimesOut;
    const DrivePages late = reader_.Read("/dev/nvme0n1");
    EXPECT_EQ(late.State, ReadState::NotAvailable);
    EXPECT_FALSE(late.Detail.empty());
}

}  // namespace
}  // namespace brenvale::health
