#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/table.h"
#include "storage/drive_enum.h"
#include "storage/format_size.h"
#include "storage/fs_types.h"

namespace brenvale::cli {

namespace {

int listSources(Context& ctx) {
    auto& os = ctx.os;
    const auto disks = os.wholeDisks();
    nlohmann::ordered_json drives = nlohmann::ordered_json::array();
    for (const auto num : storage::EnumPhysicalDrives(os)) {
        const std::size_t n = num - storage::kFirstPhysicalDrive;
        storage::TDriveParams p{};
        storage::GetDriveParams(os, num, p);
        const std::uint32_t s = p.BytesPerSector ? p.BytesPerSector : 512;
        drives.push_back({{"number", num},
                          {"source", "drive:" + std::to_string(n)},
                          {"path", disks[n].path},
                          {"model", storage::QueryDriveModel(os, static_cast<unsigned>(n))},
                          {"size", p.TotalPhysSec * s},
                          {"sector_size", s},
                          {"removable", disks[n].removable}});
    }
    nlohmann::ordered_json volumes = nlohmann::ordered_json::array();
    for (const auto& v : storage::EnumVolumes(os)) {
        volumes.push_back({{"number", v.number},
                           {"source", "volume:" + std::to_string(v.number)},
                           {"path", v.device.path},
                           {"mount_point", v.device.mountPoint},
                           {"file_system", std::string(storage::FileSystemName(v.fileSystem))},
                           {"size", v.device.sizeBytes},
                           {"sector_size", v.device.logicalSectorSize},
                           {"removable", v.device.removable}});
    }
    // Each disk that is left out says why: its path and what the system answered.
    const bool root = os.runningAsRoot();
    for (const auto& unopened : storage::UnopenedDisks(os)) {
        ctx.err << "brenvale-cli: " << storage::UnopenedDiskText(unopened, root) << '\n';
    }
    if (ctx.json) {
        ctx.out << nlohmann::ordered_json{{"drives", drives}, {"volumes", volumes}}.dump(2) << '\n';
        return kExitOk;
    }
    TextTable dt({"SOURCE", "PATH", "MODEL", "SIZE", "SECTOR", "REMOVABLE"});
    for (const auto& d : drives) {
        dt.add({d["source"], d["path"], d["model"], storage::FormatSize(d["size"].get<std::int64_t>()),
                std::to_string(d["sector_size"].get<unsigned>()), d["removable"].get<bool>() ? "yes" : "no"});
    }
    dt.print(ctx.out, {3, 4});
    ctx.out << '\n';
    TextTable vt({"SOURCE", "PATH", "MOUNTED ON", "FILE SYSTEM", "SIZE", "SECTOR", "REMOVABLE"});
    for (const auto& v : volumes) {
        vt.add({v["source"], v["path"], v["mount_point"], v["file_system"],
                storage::FormatSize(v["size"].get<std::int64_t>()), std::to_string(v["sector_size"].get<unsigned>()),
                v["removable"].get<bool>() ? "yes" : "no"});
    }
    vt.print(ctx.out, {4, 5});
    return kExitOk;
}

}  // namespace

void RegisterSources(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("sources", "List the physical drives and volumes of this machine");
    cmd->callback([&ctx] { RunCommand(ctx, [&] { return listSources(ctx); }); });
}

}  // namespace brenvale::cli
