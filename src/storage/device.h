#pragma once
// TDevice: the one object through which sectors are read, from a whole disk, a volume or an
// image file. Reads run with time-outs; failing batches are retried sector by sector and bad
// sectors zero-filled; a device that hangs or disappears is declared aborted so every running
// loop stops, and a later operation reopens it. Sources are only ever opened for reading.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "storage/batch_reader.h"
#include "storage/drive_params.h"
#include "storage/image_descriptor.h"

namespace brenvale::storage {

// Raised by the constructors; the message is meant for the user.
class DeviceError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    // With the errno that caused it, so a front end can give the system's reason as well.
    DeviceError(const std::string& what, int code) : std::runtime_error(what), FCode(code) {}
    int Code() const { return FCode; }

private:
    int FCode = 0;
};

inline constexpr char kCannotOpenImage[] = "Cannot open drive image.";
inline constexpr char kInvalidImage[] = "Invalid or corrupted drive image.";

enum : std::uint8_t { kDevicePhysical = 0, kDeviceVolume = 1, kDeviceImage = 2 };

// Progress of image creation, in percent.
using TOnCreateImg = std::function<void(int)>;

class TDevice {
public:
    // Opens physical drive DriveNum - 0x80 (128..255) or volume DriveNum (1..26).
    TDevice(platform::Platform& os, std::uint8_t DriveNum);
    // Opens a ".dif" drive image, a raw image (any other file; `rawSectorSize` 0 means 512) or
    // a block device given by its path.
    TDevice(platform::Platform& os, const std::string& ImageFile, std::uint32_t rawSectorSize = 0);
    ~TDevice();
    TDevice(const TDevice&) = delete;
    TDevice& operator=(const TDevice&) = delete;

    // Reads Blocks sectors at LBA into Buf (room for Blocks * sector size bytes). Returns the
    // bytes delivered; unreadable sectors are zero-filled and count. 0: out of range, Blocks 0
    // or above 65535, in the abort hold-off, or aborted. After a 0 Buf holds nothing but
    // correct data of the range (sectors already in memory may have been placed). Reads from
    // several threads take turns (a scan's read-ahead and a format test reading beside it).
    std::uint32_t Read(std::uint64_t LBA, std::uint32_t Blocks, std::byte* Buf);
    std::uint32_t Read(std::uint64_t LBA, std::uint32_t Blocks, std::span<std::byte> Buf);

    void ResetAbort();
    void PrepareForNewOperation();
    bool ReopenHandle();
    void TerminateProgress() { FTerminated = true; }

    // Copies Blocks sectors from LBA into a new image file. ImgType 0: disk image; otherwise a
    // volume image behind a prefix with a synthetic MBR. True when the whole range was copied.
    bool CreateImage(const std::string& FileName, std::int64_t LBA, std::int64_t Blocks,
                     int ImgType, std::uint8_t FileSystem, std::uint8_t MbrType);
    // 0x83 when an ext2/3/4 superblock magic sits 1080 bytes after LBA, else 0x07.
    std::uint8_t ProbeLinuxType(std::uint64_t LBA);

    // Geometry and identity.
    std::uint8_t DeviceType() const { return FDeviceType; }
    std::uint8_t DeviceNum() const { return FDeviceNum; }
    bool IsRawImage() const { return FRawImage; }
    const std::string& ImageFileName() const { return FImageFileName; }
    const std::string& Path() const { return FPath; }
    std::uint64_t LBA0() const { return FLBA0; }
    std::uint64_t Sectors() const { return FSectors; }
    std::uint32_t BytesPerSector() const { return FBytesPerSector; }
    const TDriveParams& DeviceParam() const { return FDeviceParam; }
    const TImageDescriptor& Desc() const { return FDesc; }
    const TDeviceAbort& Abort() const { return FAbort; }
    bool Terminated() const { return FTerminated; }
    // Why the last CreateImage could not write its file (empty when it could).
    const std::string& CreateError() const { return FCreateError; }

    std::uint8_t RetryNum = 0;
    std::string Model;
    TOnCreateImg FOnCreateImg;
    // Called once per chunk of a long copy so the front end can process its events.
    std::function<void()> FOnPump;

private:
    void openImage(const std::string& path, std::uint32_t rawSectorSize);
    void openBlockDevice(const std::string& path, std::unique_ptr<platform::BlockSource> src);
    void recordIoOk(std::uint32_t now);
    std::uint32_t readDirect(std::uint64_t LBA, std::uint32_t n, std::byte* dst, platform::Millis t);
    platform::Millis chooseTimeout(std::uint32_t now) const;

    platform::Platform& FOs;
    TDriveParams FDeviceParam{};
    std::unique_ptr<platform::BlockSource> FHandle;
    std::uint8_t FDeviceType = kDevicePhysical;
    std::uint8_t FDeviceNum = 0;
    bool FRawImage = false;
    std::string FImageFileName;
    std::string FPath;  // what ReopenHandle opens again
    std::uint64_t FLBA0 = 0;
    std::uint64_t FSectors = 0;
    TImageDescriptor FDesc{};
    std::atomic<bool> FTerminated{false};
    std::uint32_t FBytesPerSector = 512;
    TDeviceAbort FAbort;
    AlignedBuffer FPrefetchBuf;
    std::uint64_t FPrefetchStart = 0;
    std::uint32_t FPrefetchBlocks = 0;
    std::uint64_t FLastReadEnd = 0;
    std::int32_t FSeqStreak = 0;
    std::uint32_t FLastIoOk = 0;
    bool FHaveIoOk = false;
    bool FReopenTried = false;
    bool FWarmIo = false;
    std::int32_t FSlowStreak = 0;
    AlignedBuffer FWorkBuf;  // the sector-by-sector pass, reused across reads
    std::mutex FReadLock;    // one read at a time: the state above belongs to the read path
    std::string FCreateError;
};

// Time-outs and thresholds of the read path.
inline constexpr platform::Millis kLongTimeout{10000};
inline constexpr platform::Millis kShortTimeout{1000};
inline constexpr std::uint32_t kAbortHoldOffMs = 5000;
inline constexpr std::uint32_t kIdleRewarmMs = 60000;
inline constexpr std::uint32_t kWarmReadMs = 300;
inline constexpr std::int32_t kSlowStreakLimit = 10;
inline constexpr std::int32_t kReadAheadStreak = 8;
inline constexpr std::uint32_t kReadAheadMaxBlocks = 128;
inline constexpr std::uint32_t kReadAheadBytes = 65536;

}  // namespace brenvale::storage
