#include "health/health_cache.h"

#include "health/drive_health.h"
#include "storage/fs_types.h"

namespace brenvale::health {

namespace {

constexpr std::uint8_t kFirstPhysicalDrive = 0x80;

}  // namespace

TrimQuery QueryTrim(platform::DriveCommands& commands, const std::string& devicePath) {
    const platform::TrimFacts f = commands.trimFacts(devicePath);
    return {f.known, f.known && f.rotational, f.known && f.discard, f.image};
}

std::string HealthLevelText(int level, const std::string& name) {
    switch (level) {
        case kLevelNormal: return kHealthGood;
        case kLevelWarning: return kHealthWarningPrefix + name;
        case kLevelDangerous: return kHealthDangerousPrefix + name;
        default: return kHealthUnknown;
    }
}

std::uint64_t HealthCache::currentGeneration() const {
    std::lock_guard lock(mutex_);
    return generation_;
}

void HealthCache::Reset() {
    {
        std::lock_guard lock(mutex_);
        FHealthCache.fill(kNotEvaluated);
        FTrimMedia.fill(kTrimNotAsked);
        trimByPath_.clear();
        for (std::string& s : FHealthText) s.clear();
        ++generation_;
    }
    reader_.ClearMemory();
}

std::optional<std::string> HealthCache::CachedHealthText(std::uint8_t driveNumber) const {
    if (driveNumber < kFirstPhysicalDrive) return std::string(kHealthUnknown);
    std::lock_guard lock(mutex_);
    if (FHealthCache[driveNumber] == kNotEvaluated) return std::nullopt;
    return FHealthText[driveNumber];
}

std::string HealthCache::HealthText(std::uint8_t driveNumber) {
    if (auto cached = CachedHealthText(driveNumber)) return *cached;
    const std::uint64_t generation = currentGeneration();
    const auto disks = os_.wholeDisks();
    const std::size_t index = driveNumber - kFirstPhysicalDrive;
    std::uint8_t level = kUnreadable;
    std::string text = kHealthUnknown;
    if (index < disks.size()) {
        const DrivePages pages = reader_.Read(disks[index].path);
        if (pages.State == ReadState::NotApplicable) {
            text = kNotApplicableImage;
        } else {
            std::string name;
            const int l = DriveHealth(pages, name);
            text = HealthLevelText(l, name);
            if (l >= kLevelNormal) level = static_cast<std::uint8_t>(l);
        }
    }
    std::lock_guard lock(mutex_);
    if (generation != generation_) return text;
    FHealthCache[driveNumber] = level;
    FHealthText[driveNumber] = text;
    return text;
}

std::optional<std::string> HealthCache::trimWithoutDevice(const TrimSubject& s) {
    if (s.WholeDisk) return kTrimWholeDisk;
    switch (s.FileSystem) {
        case storage::kFsFat12:
        case storage::kFsFat16:
        case storage::kFsFat32:
        case storage::kFsExfat: return kTrimFat;
        case storage::kFsNtfs:
            if (!s.HasDevice) return kTrimUnknown;
            if (s.Image) return kNotApplicableImage;
            return std::nullopt;
        default: return kTrimUnknown;
    }
}

std::string HealthCache::trimMediaText(std::uint8_t media) {
    switch (media) {
        case 0: return kTrimOff;
        case 1: return kTrimOn;
        case kTrimLoop: return kNotApplicableImage;
        default: return kTrimNotReported;
    }
}

std::uint8_t& HealthCache::trimSlot(const TrimSubject& s) {
    if (s.DriveNumber != 0) return FTrimMedia[s.DriveNumber];
    return trimByPath_.try_emplace(s.DevicePath, kTrimNotAsked).first->second;
}

std::optional<std::string> HealthCache::CachedTrimText(const TrimSubject& s) const {
    if (auto text = trimWithoutDevice(s)) return text;
    std::lock_guard lock(mutex_);
    std::uint8_t media = kTrimNotAsked;
    if (s.DriveNumber != 0) {
        media = FTrimMedia[s.DriveNumber];
    } else if (const auto it = trimByPath_.find(s.DevicePath); it != trimByPath_.end()) {
        media = it->second;
    }
    if (media == kTrimNotAsked) return std::nullopt;
    return trimMediaText(media);
}

std::string HealthCache::TrimText(const TrimSubject& s) {
    if (auto cached = CachedTrimText(s)) return *cached;
    // Linux has no system-wide switch that stops delete notifications: whether deleted blocks
    // are discarded is up to the disk (and the discard mount option or a periodic fstrim,
    // both of which need the disk's support), so the disk's answer decides.
    const std::uint64_t generation = currentGeneration();
    const TrimQuery q = QueryTrim(commands_, s.DevicePath);
    const std::uint8_t media = q.Image ? kTrimLoop : !q.Ok ? kTrimNoReport : q.TrimEnabled ? 1 : 0;
    std::lock_guard lock(mutex_);
    if (generation == generation_) trimSlot(s) = media;
    return trimMediaText(media);
}

}  // namespace brenvale::health
