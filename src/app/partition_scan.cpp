#include "app/partition_scan.h"

#include <fmt/format.h>

#include <filesystem>

#include "storage/device_events.h"

namespace brenvale::app {

namespace {

void removeFile(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

// Clears the busy flag on every way out.
struct BusyGuard {
    bool& flag;
    explicit BusyGuard(bool& f) : flag(f) { flag = true; }
    ~BusyGuard() { flag = false; }
};

// An image is known by its absolute path, so a scan started from another folder still matches.
std::string sourceId(const storage::TDevice& dev) {
    if (dev.DeviceType() != storage::kDeviceImage) return {};
    std::error_code ec;
    const auto abs = std::filesystem::absolute(dev.ImageFileName(), ec);
    return ec ? dev.ImageFileName() : abs.lexically_normal().string();
}

bool belongsTo(const partitions::TPartiCheckpointData& data, const partitions::TPhysicalDrv& drv) {
    const auto& dev = *drv.Device;
    const bool image = dev.DeviceType() == storage::kDeviceImage;
    return data.SourceType == dev.DeviceType() && data.SourceId == sourceId(dev) &&
           (image || data.DeviceNum == dev.DeviceNum()) && data.PartiStartLBA == partitions::PartitionStart(&drv.Partition);
}

// After a completed scan its checkpoint has served; one of another drive still has work to do.
void removeOwnCheckpoint(const std::string& path, const partitions::TPhysicalDrv& drv) {
    partitions::TPartiCheckpointData data;
    const int loaded = partitions::LoadPartiCheckpoint(path, data);
    if (loaded == partitions::kPartiCheckpointMissing) return;
    if (loaded == partitions::kPartiCheckpointLoaded && !belongsTo(data, drv)) return;
    removeFile(path);
}

}  // namespace

std::string LostFoundText(int result, std::size_t found) {
    if (result == partitions::kSearchStopped) return fmt::format(kLostFoundSoFarFormat, found);
    return found == 0 ? std::string(kLostFoundNothingText) : fmt::format(kLostFoundFormat, found);
}

PartitionScanCommand::PartitionScanCommand(UserInterface& ui, EventLog& log, std::string& checkpointPath,
                                           std::string dataDir)
    : FUi(ui), FLog(log), FCheckpointPath(checkpointPath), FDataDir(std::move(dataDir)) {}

std::string PartitionScanCommand::CheckpointFile() const {
    return partitions::PartiCheckpointPath(FCheckpointPath, FDataDir);
}

std::string PartitionScanCommand::ResumeQuestion(const partitions::TPartiCheckpointData& d) {
    const std::int64_t shift = d.RefFrame == 1 ? d.RefPartiStart : 0;
    return fmt::format(
        "Found an unfinished partition scan (range: sector {} to {}, scanned up to sector {}, {} partitions "
        "found).\r\n\r\nContinue scanning from the checkpoint?\r\n\r\nYes = continue scanning    No = scan from the "
        "beginning",
        d.LBA - shift, d.LBA + d.Blocks - 1 - shift, d.CurrLBA - shift, d.Partitions.size());
}

bool PartitionScanCommand::offerResume(partitions::TPhysicalDrv& drv, SectorRange& range) {
    const std::string path = CheckpointFile();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return false;
    partitions::TPartiCheckpointData data;
    if (partitions::LoadPartiCheckpoint(path, data) != partitions::kPartiCheckpointLoaded) {
        removeFile(path);
        return false;
    }
    // A checkpoint of another drive is left alone for that drive's next scan.
    if (!belongsTo(data, drv)) return false;
    if (!FUi.AskYesNo(ResumeQuestion(data))) {
        removeFile(path);
        return false;
    }
    FCheckpointPath = path;
    FPartiChkEnabled = true;
    FPartiChkResuming = true;
    drv.ResumeLostParts = std::move(data.Partitions);
    drv.ResumeCurrLBA = data.CurrLBA;
    drv.ResumeLastPrint = data.LastPrint;
    FPartiChkFrame = data.RefFrame;
    FPartiChkRefStart = data.RefPartiStart;
    range = {data.LBA, data.Blocks};
    return true;
}

void PartitionScanCommand::saveAfterStop(partitions::TPhysicalDrv& drv, const SectorRange& range) {
    if (drv.ResumeCurrLBA <= 0) {
        FUi.ShowMessage(MessageKind::Information, kStoppedBeforeFirstBatch, kAppTitle);
        return;
    }
    if (FCheckpointPath.empty()) FCheckpointPath = partitions::PartiCheckpointPath({}, FDataDir);
    const auto& dev = *drv.Device;
    partitions::TPartiCheckpointData data;
    data.SourceType = dev.DeviceType();
    data.SourceId = sourceId(dev);
    data.DeviceNum = dev.DeviceNum();
    data.PartiStartLBA = partitions::PartitionStart(&drv.Partition);
    data.LBA = range.First;
    data.Blocks = range.Count;
    data.CurrLBA = drv.ResumeCurrLBA;
    data.LastPrint = drv.ResumeLastPrint;
    data.RefFrame = FPartiChkFrame;
    data.RefPartiStart = FPartiChkRefStart;
    for (const auto* p : drv.LostPartitionList) data.Partitions.push_back(*p);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(FCheckpointPath).parent_path(), ec);
    if (partitions::SavePartiCheckpoint(FCheckpointPath, data)) {
        FLog.AddEvent(kPartitionScanEvent, "Checkpoint saved (auto)");
    } else {
        FUi.ShowMessage(MessageKind::Warning, kCheckpointSaveFailed, kAppTitle);
    }
}

int PartitionScanCommand::Run(partitions::TPhysicalDrv& drv, const PartitionScanTarget& target) {
    if (FActionInProgress) return kPartitionScanBusy;
    BusyGuard busy(FActionInProgress);
    FLog.AddEvent(kPartitionScanEvent, fmt::format("Starting scan \"{}\"", target.Text));

    FPartiChkEnabled = true;
    FPartiChkResuming = false;
    drv.ResumeCurrLBA = 0;
    drv.ResumeLastPrint.reset();
    drv.ResumeLostParts.clear();

    SectorRange range;
    if (offerResume(drv, range)) {
        FLog.AddEvent(kPartitionScanEvent, "Resume from checkpoint");
    } else {
        const auto chosen = FUi.ChooseRange(target.Proposed, drv.Device->BytesPerSector(), drv.Device->Sectors());
        if (!chosen) return kPartitionScanCancelled;
        range = *chosen;
        FPartiChkFrame = 1;
        FPartiChkRefStart = target.Proposed.First;
    }

    FUi.Progress(0);
    drv.FOnScan = [this](int percent) { FUi.Progress(percent); };
    drv.FOnPump = [this] { FUi.Pump(); };
    drv.FOnError = [this](const std::string& message) { FUi.ShowMessage(MessageKind::Error, message, "DetectLostParti"); };
    const int result = drv.DetectLostParti(&drv.Partition, range.First, range.Count, false);
    drv.FOnScan = nullptr;
    drv.FOnPump = nullptr;
    drv.FOnError = nullptr;

    if (result == partitions::kSearchStopped) {
        saveAfterStop(drv, range);
    } else if (result == partitions::kSearchDone) {
        removeOwnCheckpoint(CheckpointFile(), drv);
    }
    FLog.AddEvent(kPartitionScanEvent, result == partitions::kSearchDone      ? "Scan progress completed"
                                       : result == partitions::kSearchStopped ? "Scan progress finished with return code \"User Terminated\""
                                                                              : "Scan progress abnormal finished");
    if (result == partitions::kSearchDone || result == partitions::kSearchStopped) {
        FLog.AddEvent(kPartitionScanEvent, LostFoundText(result, drv.LostPartitionList.size()));
    }
    if (storage::DeviceAborted) {
        storage::DeviceAborted = false;
        FUi.ShowMessage(MessageKind::Warning, kPartitionScanOffline, kAppTitle);
    }
    return result;
}

}  // namespace brenvale::app
