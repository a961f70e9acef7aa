#include "cli/partition_output.h"

#include <fmt/format.h>

#include "cli/drive_source.h"
#include "cli/table.h"
#include "storage/format_size.h"
#include "storage/fs_types.h"

namespace brenvale::cli {

namespace {

using partitions::PartitionSize;
using partitions::PartitionStart;
using partitions::TPartition;

std::string fsName(const TPartition* p) { return std::string(storage::FileSystemName(p->BootSector.FileSystemType)); }

std::int64_t bytes(const TPartition* p, std::uint32_t s) { return PartitionSize(p) * static_cast<std::int64_t>(s); }

}  // namespace

nlohmann::ordered_json LostPartitionsJson(const std::vector<TPartition*>& lost) {
    auto out = nlohmann::ordered_json::array();
    for (const TPartition* p : lost) {
        const unsigned type = p->Entry.SystemFlag;
        out.push_back({{"start", PartitionStart(p)},
                       {"size", PartitionSize(p)},
                       {"file_system", fsName(p)},
                       {"type", type},
                       {"partial", p->ClaimedSectCount > 0},
                       {"claimed_size", p->ClaimedSectCount}});
    }
    return out;
}

void PrintPartitionTree(Context& ctx, const partitions::TPhysicalDrv& drv, bool withLost) {
    const auto& dev = *drv.Device;
    const std::uint32_t s = dev.BytesPerSector();
    if (ctx.json) {
        auto parts = nlohmann::ordered_json::array();
        for (std::size_t i = 1; i < drv.PartitionList.size(); ++i) {
            const TPartition* p = drv.PartitionList[i];
            const unsigned type = p->Entry.SystemFlag;
            const bool claimed = p->ClaimedSectCount > 0;
            parts.push_back({{"index", i},
                             {"kind", RecordKind(drv, p)},
                             {"type", type},
                             {"start", PartitionStart(p)},
                             {"size", PartitionSize(p)},
                             {"file_system", fsName(p)},
                             {"label", p->VolLabel},
                             {"gpt_type", drv.GptTypeName(p)},
                             {"hidden", partitions::PartitionHidden(p)},
                             {"partial", claimed && p->SectCount64 != 0},
                             {"not_in_image", claimed && p->SectCount64 == 0},
                             {"claimed_size", p->ClaimedSectCount},
                             {"mount", p->VolumePath}});
        }
        nlohmann::ordered_json j{{"sectors", dev.Sectors()}, {"sector_size", s}, {"partitions", parts}};
        if (withLost) j["lost"] = LostPartitionsJson(drv.LostPartitionList);
        ctx.out << j.dump(2) << '\n';
        return;
    }
    ctx.out << fmt::format("Disk: {} sectors of {} bytes ({})\n\n", dev.Sectors(), s,
                           storage::FormatSize(static_cast<std::int64_t>(dev.Sectors() * s)));
    TextTable t({"#", "KIND", "TYPE", "START", "SECTORS", "SIZE", "FILE SYSTEM", "NAME", "NOTE"});
    for (std::size_t i = 1; i < drv.PartitionList.size(); ++i) {
        const TPartition* p = drv.PartitionList[i];
        std::string name = p->VolLabel;
        const std::string gpt = drv.GptTypeName(p);
        if (!gpt.empty()) name += (name.empty() ? "" : " ") + std::string("(") + gpt + ")";
        std::string note = p->VolumePath;
        if (p->ClaimedSectCount > 0) note += p->SectCount64 == 0 ? " [not in image]" : " [partial]";
        if (partitions::PartitionHidden(p)) note += " hidden";
        t.add({std::to_string(i), RecordKind(drv, p), fmt::format("{:02X}h", p->Entry.SystemFlag),
               std::to_string(PartitionStart(p)), std::to_string(PartitionSize(p)),
               storage::FormatSize(bytes(p, s)), fsName(p), name, note});
    }
    t.print(ctx.out, {3, 4, 5});
    if (withLost) {
        ctx.out << '\n';
        PrintLostPartitions(ctx, drv);
    }
}

void PrintLostPartitions(Context& ctx, const partitions::TPhysicalDrv& drv) {
    if (ctx.json) {
        ctx.out << nlohmann::ordered_json{{"lost", LostPartitionsJson(drv.LostPartitionList)}}.dump(2) << '\n';
        return;
    }
    if (drv.LostPartitionList.empty()) {
        ctx.out << "Lost partitions: none found\n";
        return;
    }
    ctx.out << "Lost partitions:\n";
    const std::uint32_t s = drv.Device->BytesPerSector();
    TextTable t({"#", "TYPE", "START", "SECTORS", "SIZE", "FILE SYSTEM", "NOTE"});
    std::size_t n = 0;
    for (const TPartition* p : drv.LostPartitionList) {
        t.add({std::to_string(++n), fmt::format("{:02X}h", p->Entry.SystemFlag), std::to_string(PartitionStart(p)),
               std::to_string(PartitionSize(p)), storage::FormatSize(bytes(p, s)), fsName(p),
               p->ClaimedSectCount > 0 ? "[partial]" : ""});
    }
    t.print(ctx.out, {2, 3, 4});
}

}  // namespace brenvale::cli
