#include "app/health_texts.h"

#include "app/tree_node.h"
#include "scan/undelete.h"
#include "storage/device.h"

namespace brenvale::app {

std::string HealthText(const health::HealthCache* cache, std::uint8_t driveNumber) {
    if (!cache) return kHealthUnknownText;
    return cache->CachedHealthText(driveNumber).value_or(kHealthUnknownText);
}

std::string TrimText(const health::HealthCache* cache, const scan::TUndelete& scan) {
    if (!cache) return kHealthUnknownText;
    return cache->CachedTrimText(TrimSubjectOf(scan)).value_or(kHealthUnknownText);
}

health::TrimSubject TrimSubjectOf(const scan::TUndelete& scan) {
    const storage::TDevice& d = scan.Device();
    health::TrimSubject s;
    s.WholeDisk = scan.FWholeDiskObject;
    s.FileSystem = scan.FileSystem();
    s.HasDevice = true;
    s.Image = d.DeviceType() == storage::kDeviceImage;
    s.DriveNumber = d.DeviceNum();
    s.DevicePath = d.Path();
    return s;
}

std::function<void()> PendingHealthWork(health::HealthCache& cache, const TreeNode& node) {
    if (node.Kind == NodeKind::Disk) {
        if (!node.Drive || !node.Drive->Device) return {};
        const std::uint8_t n = node.Drive->Device->DeviceNum();
        if (cache.CachedHealthText(n)) return {};
        return [&cache, n] { (void)cache.HealthText(n); };
    }
    if (IsVolumeKind(node.Kind)) {
        const scan::TUndelete* s = ScanOf(&node);
        if (!s) return {};
        health::TrimSubject subject = TrimSubjectOf(*s);
        if (cache.CachedTrimText(subject)) return {};
        return [&cache, subject = std::move(subject)] { (void)cache.TrimText(subject); };
    }
    return {};
}

}  // namespace brenvale::app
