#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "storage/device.h"
#include "storage/format_size.h"
#include "storage/fs_detect.h"
#include "storage/fs_types.h"

namespace brenvale::cli {

namespace {

int showInfo(Context& ctx, const std::string& sourceArg) {
    auto src = OpenSource(ctx, sourceArg);
    auto& dev = *src.device;
    std::vector<std::byte> sector(dev.BytesPerSector());
    const bool readable = dev.Read(0, 1, sector.data()) >= 512;
    const auto fs = readable ? storage::DetectFileSystem(sector) : storage::kFsUnknown;
    const std::uint64_t bytes = dev.Sectors() * dev.BytesPerSector();

    nlohmann::ordered_json j{{"source", sourceArg},
                             {"kind", SourceKindName(src.kind)},
                             {"path", dev.Path()},
                             {"sector_size", dev.BytesPerSector()},
                             {"sectors", dev.Sectors()},
                             {"size", bytes},
                             {"model", dev.Model},
                             {"file_system", std::string(storage::FileSystemName(fs))}};
    if (ctx.json) {
        ctx.out << j.dump(2) << '\n';
    } else {
        ctx.out << "Source:       " << sourceArg << '\n'
                << "Kind:         " << SourceKindName(src.kind) << '\n'
                << "Sector size:  " << dev.BytesPerSector() << '\n'
                << "Sectors:      " << dev.Sectors() << '\n'
                << "Size:         " << storage::FormatSize(static_cast<std::int64_t>(bytes)) << '\n';
        if (!dev.Model.empty()) ctx.out << "Model:        " << dev.Model << '\n';
        ctx.out << "File system:  " << storage::FileSystemName(fs) << '\n';
    }
    return readable ? kExitOk : kExitFailed;
}

}  // namespace

void RegisterInfo(CLI::App& app, Context& ctx) {
    auto* cmd = app.add_subcommand("info", "Show what a source is: kind, sectors, file system of sector 0");
    auto sourceArg = std::make_shared<std::string>();
    cmd->add_option("SOURCE", *sourceArg, "Image file, block device, drive:N or volume:N")->required();
    cmd->callback([&ctx, sourceArg] { RunCommand(ctx, [&] { return showInfo(ctx, *sourceArg); }); });
}

}  // namespace brenvale::cli
