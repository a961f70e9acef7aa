#pragma once
// The logic of "Create Drive Image" without its dialogs: the proposed range and arguments for
// what is being imaged, the destination check, and the run with its event-log lines.

#include <cstdint>
#include <optional>
#include <string>

#include "app/event_log.h"
#include "platform/platform.h"
#include "storage/device.h"

namespace brenvale::app {

inline constexpr char kCreateImageEvent[] = "Create Image";
inline constexpr char kImageOnSourceDisk[] =
    "The file you selected is on the disk being imaged.\r\nWriting the image there would overwrite the very data it is\r\n"
    "being read from. Please choose a location on a different disk.";
inline constexpr char kImageCompleted[] = "Image creation completed";
inline constexpr char kImageStopped[] = "Image creation stopped - partial image saved";
inline constexpr char kImageEndedEarly[] = "Image creation ended early by read errors - partial image saved";

struct ImagePlan {
    std::uint64_t LBA = 0;
    std::uint64_t Blocks = 0;
    int ImgType = 0;  // 0 disk image, 1 volume image behind a synthetic MBR
    std::uint8_t FileSystem = 0;
    std::uint8_t MbrType = 0;
};

// The range and arguments proposed for a whole device: a disk or disk image is copied as it is;
// a volume, or an image that was made of a volume, becomes a volume image.
ImagePlan ProposeImagePlan(storage::TDevice& dev);

// A volume image of the stretch [LBA, LBA + Blocks): its file system read from the first
// sector, and a Linux type for an unknown one that holds an ext superblock.
ImagePlan VolumePlan(storage::TDevice& dev, std::uint64_t LBA, std::uint64_t Blocks);

// True when `fileName` lies on the disk area [LBA, LBA + Blocks) of `dev`. Images are never
// checked: their sectors are not on a disk we know.
bool ImageTargetOnSource(platform::Platform& os, const storage::TDevice& dev, const std::string& fileName,
                         std::uint64_t LBA, std::uint64_t Blocks);

// Runs the copy with its start and outcome event-log lines. Returns the outcome text.
std::string RunCreateImage(storage::TDevice& dev, EventLog& log, const std::string& fileName, const ImagePlan& plan);

}  // namespace brenvale::app
