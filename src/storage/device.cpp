#include "storage/device.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/errors.h"
#include "storage/device_events.h"
#include "storage/drive_enum.h"

namespace brenvale::storage {

namespace {

constexpr std::uint32_t kMinImageBytes = 1024;
constexpr std::size_t kDescriptorBytes = sizeof(TImageDescriptor);

bool endsWithDif(const std::string& path) {
    if (path.size() < 4) return false;
    std::string ext = path.substr(path.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".dif";
}

// Sector sizes a device or image may declare. Anything else in a descriptor is corruption.
bool plausibleSectorSize(std::uint32_t s) {
    return s >= 512 && s <= 65536 && (s & (s - 1)) == 0;
}

}  // namespace

TDevice::TDevice(platform::Platform& os, std::uint8_t DriveNum) : FOs(os) {
    if (!GetDriveParams(os, DriveNum, FDeviceParam)) {
        throw DeviceError(platform::errorText(ENODEV));
    }
    const auto dev = ResolveDriveNumber(os, DriveNum);
    if (!dev) throw DeviceError(platform::errorText(ENODEV));
    auto opened = os.openReadOnly(dev->path);
    if (!opened.source) throw DeviceError(platform::errorText(opened.error));
    FHandle = std::move(opened.source);
    FPath = dev->path;
    FDeviceNum = DriveNum;
    FBytesPerSector = FDeviceParam.BytesPerSector ? FDeviceParam.BytesPerSector : 512;
    if (DriveNum >= kFirstPhysicalDrive) {
        FDeviceType = kDevicePhysical;
        Model = QueryDriveModel(os, DriveNum - kFirstPhysicalDrive);
    } else {
        FDeviceType = kDeviceVolume;
    }
    FLBA0 = 0;
    FSectors = FDeviceParam.TotalPhysSec;
}

TDevice::TDevice(platform::Platform& os, const std::string& ImageFile, std::uint32_t rawSectorSize) : FOs(os) {
    auto opened = os.openReadOnly(ImageFile);
    if (!opened.source) {
        // A device node that cannot be opened is not an image problem: say what the OS said.
        if (ImageFile.rfind("/dev/", 0) == 0) throw DeviceError(platform::errorText(opened.error));
        throw DeviceError(kCannotOpenImage, opened.error);
    }
    if (opened.source->isBlockDevice()) {
        openBlockDevice(ImageFile, std::move(opened.source));
        return;
    }
    FHandle = std::move(opened.source);
    openImage(ImageFile, rawSectorSize);
}

TDevice::~TDevice() = default;

// A block device named by path: a listed disk or volume keeps its number; any other block
// device (an unlisted partition, say) is read like a volume without one.
void TDevice::openBlockDevice(const std::string& path, std::unique_ptr<platform::BlockSource> src) {
    FHandle = std::move(src);
    FPath = path;
    const auto disks = FOs.wholeDisks();
    for (std::size_t i = 0; i < disks.size(); ++i) {
        if (disks[i].path == path && i + kFirstPhysicalDrive <= 0xFF) {
            FDeviceType = kDevicePhysical;
            FDeviceNum = static_cast<std::uint8_t>(kFirstPhysicalDrive + i);
            Model = QueryDriveModel(FOs, static_cast<unsigned>(i));
            break;
        }
    }
    if (FDeviceNum == 0) {
        FDeviceType = kDeviceVolume;
        for (const auto& v : EnumVolumes(FOs)) {
            if (v.device.path == path) FDeviceNum = v.number;
        }
    }
    const bool known = FDeviceNum != 0 && GetDriveParams(FOs, FDeviceNum, FDeviceParam);
    if (!known) {
        // Geometry straight from the device when no drive number reaches it.
        FDeviceParam = TDriveParams{};
        if (const auto g = FHandle->geometry()) {
            FDeviceParam.Heads = static_cast<std::uint32_t>(g->cylinders);
            FDeviceParam.TracksPerHead = g->tracksPerCylinder;
            FDeviceParam.SectorsPerTrack = g->sectorsPerTrack;
            FDeviceParam.BytesPerSector = g->bytesPerSector;
            ApplyMediaType(g->mediaType, FDeviceParam);
        }
        if (FDeviceParam.BytesPerSector == 0) FDeviceParam.BytesPerSector = FHandle->logicalSectorSize().value_or(512);
        FDeviceParam.TotalPhysSec = FHandle->sizeBytes().value_or(0) / FDeviceParam.BytesPerSector;
    }
    FBytesPerSector = FDeviceParam.BytesPerSector ? FDeviceParam.BytesPerSector : 512;
    FSectors = FDeviceParam.TotalPhysSec;
}

void TDevice::openImage(const std::string& path, std::uint32_t rawSectorSize) {
    FDeviceType = kDeviceImage;
    FDeviceNum = 0;
    FImageFileName = path;
    FPath = path;
    const auto size = FHandle->sizeBytes();
    if (!size) throw DeviceError(kCannotOpenImage);

    // A valid descriptor in the last 512 bytes makes a drive image; any other file is raw.
    bool haveDesc = false;
    if (*size >= kMinImageBytes) {
        std::array<std::byte, kDescriptorBytes> raw{};
        const auto out = FHandle->readTimed(raw, *size - kDescriptorBytes, kLongTimeout);
        if (out.status != platform::ReadStatus::Ok || out.bytes < kDescriptorBytes) throw DeviceError(kInvalidImage);
        std::memcpy(&FDesc, raw.data(), kDescriptorBytes);
        const std::uint32_t s = FDesc.BytesPerSector ? FDesc.BytesPerSector : 512;
        haveDesc = descriptorCrcMatches(FDesc) && plausibleSectorSize(s) &&
                   FDesc.Sectors == (*size - kDescriptorBytes) / s;
    }
    if (haveDesc) {
        FBytesPerSector = FDesc.BytesPerSector ? FDesc.BytesPerSector : 512;
        FSectors = (*size - kDescriptorBytes) / FBytesPerSector;
        FDeviceParam = FDesc.Params;
        FDeviceParam.TotalPhysSec = FSectors;
    } else {
        if (endsWithDif(path)) throw DeviceError(kInvalidImage);
        FDesc = TImageDescriptor{};
        FRawImage = true;
        FBytesPerSector = rawSectorSize ? rawSectorSize : 512;
        if (!plausibleSectorSize(FBytesPerSector)) throw DeviceError(kInvalidImage);
        FSectors = *size / FBytesPerSector;
        if (FSectors == 0) throw DeviceError(kInvalidImage);
        // A raw image may hold a partitioned disk or a bare volume. Like removable media, it
        // may carry a volume in sector 0; the geometry is the usual translation.
        FDeviceParam = TDriveParams{};
        FDeviceParam.MediaType = kMediaRemovable;
        FDeviceParam.MediaAttr = 1;
        FDeviceParam.TracksPerHead = 255;
        FDeviceParam.SectorsPerTrack = 63;
        FDeviceParam.Heads = static_cast<std::uint32_t>(FSectors / (255 * 63));
        FDeviceParam.BytesPerSector = FBytesPerSector;
        FDeviceParam.TotalPhysSec = FSectors;
    }
    RetryNum = 0;
    FLBA0 = 0;
}

void TDevice::recordIoOk(std::uint32_t now) {
    FLastIoOk = now;
    FHaveIoOk = true;
    FReopenTried = false;
}

void TDevice::ResetAbort() {
    FAbort = TDeviceAbort{};
    FReopenTried = false;
    FWarmIo = false;
    FSlowStreak = 0;
    FPrefetchBlocks = 0;
    FSeqStreak = 0;
}

void TDevice::PrepareForNewOperation() {
    if (FAbort.Aborted) {
        ReopenHandle();
    } else {
        ResetAbort();
    }
    FReopenTried = false;
    FWarmIo = false;
    FSlowStreak = 0;
}

bool TDevice::ReopenHandle() {
    // Reopened by path rather than by drive number: if the disk came back under another
    // name, its number may now belong to a different disk.
    FHandle.reset();
    FPrefetchBlocks = 0;
    auto opened = FOs.openReadOnly(FPath);
    if (!opened.source) return false;
    FHandle = std::move(opened.source);
    ResetAbort();
    return true;
}

platform::Millis TDevice::chooseTimeout(std::uint32_t now) const {
    const bool idle = FHaveIoOk && now - FLastIoOk >= kIdleRewarmMs;
    if (!FHaveIoOk || idle || (!FWarmIo && FSlowStreak < kSlowStreakLimit)) return kLongTimeout;
    return kShortTimeout;
}

std::uint32_t TDevice::readDirect(std::uint64_t LBA, std::uint32_t n, std::byte* dst, platform::Millis t) {
    BatchRequest req;
    req.handle = FHandle.get();
    req.sectors = n;
    req.dest = dst;
    req.timeout = t;
    req.abort = &FAbort;
    req.sectorSize = FBytesPerSector;
    req.retries = RetryNum;
    req.first = LBA - FLBA0;
    req.clock = &FOs;
    req.work = &FWorkBuf;
    return ReadBatch(req);
}

std::uint32_t TDevice::Read(std::uint64_t LBA, std::uint32_t Blocks, std::span<std::byte> Buf) {
    const std::size_t need = std::size_t{Blocks} * FBytesPerSector;
    if (Buf.size() < need) return 0;
    return Read(LBA, Blocks, Buf.data());
}

std::uint32_t TDevice::Read(std::uint64_t LBA, std::uint32_t Blocks, std::byte* Buf) {
    const std::lock_guard lock(FReadLock);
    const std::uint32_t s = FBytesPerSector;
    const std::uint64_t end = FLBA0 + FSectors;
    if (!Buf || Blocks == 0 || Blocks > kMaxBatchSectors || LBA >= end || LBA < FLBA0) return 0;

    // Served from the read-ahead buffer.
    if (FPrefetchBlocks > 0 && LBA >= FPrefetchStart && LBA + Blocks <= FPrefetchStart + FPrefetchBlocks) {
        std::memcpy(Buf, FPrefetchBuf.data() + (LBA - FPrefetchStart) * s, std::size_t{Blocks} * s);
        FLastReadEnd = LBA + Blocks;
        if (FLastReadEnd == FPrefetchStart + FPrefetchBlocks) FPrefetchBlocks = 0;
        recordIoOk(FOs.tickCount());
        return Blocks * s;
    }
    FPrefetchBlocks = 0;
    const auto n = static_cast<std::uint32_t>(std::min<std::uint64_t>(Blocks, end - LBA));

    if (FAbort.Aborted) {
        if (FAbort.Offline && !FReopenTried) {
            FReopenTried = true;
            if (!ReopenHandle() || FAbort.Aborted) return 0;
        } else if (FOs.tickCount() - FAbort.Since < kAbortHoldOffMs) {
            return 0;
        } else {
            ResetAbort();
        }
    }
    // A failed reopen leaves no handle; try again before reading rather than fail on it.
    if (!FHandle) ReopenHandle();

    std::uint32_t m = n;
    if (n >= 1 && n <= kReadAheadMaxBlocks && FSeqStreak >= kReadAheadStreak) {
        const std::uint64_t room = end - LBA - n;
        m = n + static_cast<std::uint32_t>(std::min<std::uint64_t>(kReadAheadBytes / s, room));
        try {
            FPrefetchBuf.reserve(std::size_t{m} * s);
        } catch (const std::bad_alloc&) {
            m = n;  // no memory for the read-ahead: read just what was asked
        }
    }

    const std::uint32_t started = FOs.tickCount();
    const auto timeout = chooseTimeout(started);
    std::uint32_t result = 0;
    if (m > n) {
        const std::uint32_t got = readDirect(LBA, m, FPrefetchBuf.data(), timeout);
        if (got < std::size_t{n} * s) {
            FPrefetchBlocks = 0;
            result = readDirect(LBA, n, Buf, timeout);
        } else {
            std::memcpy(Buf, FPrefetchBuf.data(), std::size_t{n} * s);
            result = n * s;
            if (got / s > n) {
                FPrefetchStart = LBA;
                FPrefetchBlocks = got / s;
            }
        }
    } else {
        result = readDirect(LBA, n, Buf, timeout);
    }

    if (result != 0) {
        FSeqStreak = LBA == FLastReadEnd ? FSeqStreak + 1 : 0;
        FLastReadEnd = LBA + result / s;
    } else {
        FSeqStreak = 0;
    }

    const std::uint32_t finished = FOs.tickCount();
    if (result != 0 || !FAbort.Aborted) {
        recordIoOk(finished);
        if (finished - started <= kWarmReadMs) {
            FWarmIo = true;
            FSlowStreak = 0;
            return result;
        }
    }
    FWarmIo = false;
    if (FSlowStreak < INT32_MAX) ++FSlowStreak;
    return result;
}

std::uint8_t TDevice::ProbeLinuxType(std::uint64_t LBA) {
    constexpr std::size_t kMagicOffset = 1080;  // ext2/3/4 superblock magic 0xEF53
    const std::uint32_t s = FBytesPerSector;
    const std::uint32_t blocks = std::max<std::uint32_t>(1, (s + kMagicOffset + 1 + s - 1) / s);
    std::vector<std::byte> buf(std::size_t{blocks} * s);
    const std::uint32_t got = Read(LBA, blocks, buf.data());
    if (got > kMagicOffset + 1 && buf[kMagicOffset] == std::byte{0x53} && buf[kMagicOffset + 1] == std::byte{0xEF}) {
        return 0x83;
    }
    return 0x07;
}

}  // namespace brenvale::storage
