// Arbitrary bytes as what a drive or a saved-pages folder hands back: S.M.A.R.T. data and
// threshold pages, identify data, the NVMe health log and SCSI sense data must all be read
// inside their buffers whatever their lengths.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "health/drive_health.h"
#include "platform/ata_reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace brenvale;
    std::vector<std::byte> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = std::byte{data[i]};
    const std::span<const std::byte> all(bytes);
    // The first half as the data page, the rest as thresholds; the whole as each other page.
    health::DrivePages ata;
    ata.SmartData.assign(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(size / 2));
    ata.SmartThresholds.assign(all.begin() + static_cast<std::ptrdiff_t>(size / 2), all.end());
    ata.Identify = bytes;
    (void)health::Evaluate(ata);
    health::DrivePages nvme;
    nvme.Kind = platform::DriveKind::Nvme;
    nvme.NvmeHealth = bytes;
    nvme.NvmeIdentify = bytes;
    (void)health::Evaluate(nvme);

    platform::TransportReply reply{platform::TransportReply::Outcome::Done};
    reply.scsiStatus = 2;
    reply.sense = bytes;
    (void)platform::DecodeAtaReply(platform::AtaForm::PassThrough16, reply);
    return 0;
}
