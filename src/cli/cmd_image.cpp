#include <fmt/format.h>

#include <atomic>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "app/create_image.h"
#include "cli/cli_ui.h"
#include "cli/commands.h"
#include "platform/terminal.h"
#include "storage/device.h"
#include "storage/fs_types.h"
#include "storage/image_descriptor.h"
#include "storage/le.h"

namespace brenvale::cli {

namespace {

struct CreateArgs {
    std::string source;
    std::string target;
    std::optional<std::uint64_t> from;
    std::optional<std::uint64_t> count;
    bool volume = false;
};

std::atomic<storage::TDevice*> gImaging{nullptr};

void stopImaging() {
    if (auto* dev = gImaging.load()) dev->TerminateProgress();
}

app::ImagePlan planFor(storage::TDevice& dev, const CreateArgs& a) {
    const std::uint64_t sectors = dev.Sectors();
    if (sectors == 0) throw CliError(kExitUsage, a.source + ": the source has no sectors");
    app::ImagePlan plan = app::ProposeImagePlan(dev);
    if (!a.from && !a.count && !a.volume) return plan;
    const std::uint64_t from = a.from.value_or(plan.LBA);
    if (from >= sectors) {
        throw CliError(kExitUsage, fmt::format("--from {} is beyond the last sector ({})", from, sectors - 1));
    }
    const std::uint64_t count = a.count.value_or(a.from ? sectors - from : plan.Blocks);
    if (count == 0 || count > sectors - from) {
        throw CliError(kExitUsage, fmt::format("--count {} does not fit: {} sectors from sector {}", count,
                                               sectors - from, from));
    }
    if (a.volume || plan.ImgType != 0) return app::VolumePlan(dev, from, count);
    plan.LBA = from;
    plan.Blocks = count;
    return plan;
}

int createImage(Context& ctx, const CreateArgs& a) {
    auto src = OpenSource(ctx, a.source);
    auto& dev = *src.device;
    const auto plan = planFor(dev, a);

    const auto parent = std::filesystem::absolute(a.target).parent_path();
    if (!std::filesystem::is_directory(parent)) {
        throw CliError(kExitUsage, a.target + ": the folder " + parent.string() + " does not exist");
    }
    if (app::ImageTargetOnSource(ctx.os, dev, a.target, plan.LBA, plan.Blocks)) {
        throw CliError(kExitUsage, ForTerminal(app::kImageOnSourceDisk));
    }

    dev.FOnCreateImg = [&ctx](int percent) { ctx.progress.update(fmt::format("Creating image: {}%", percent)); };
    gImaging = &dev;
    std::string outcome;
    {
        platform::InterruptGuard guard(stopImaging);
        outcome = app::RunCreateImage(dev, ctx.log, a.target, plan);
    }
    gImaging = nullptr;
    ctx.progress.finish();

    const bool complete = outcome == app::kImageCompleted;
    if (ctx.json) {
        ctx.out << nlohmann::ordered_json{{"file", a.target},
                                          {"lba", plan.LBA},
                                          {"sectors", plan.Blocks},
                                          {"volume_image", plan.ImgType != 0},
                                          {"file_system", std::string(storage::FileSystemName(plan.FileSystem))},
                                          {"outcome", outcome},
                                          {"complete", complete}}
                           .dump(2)
                << '\n';
    } else {
        ctx.out << outcome << " (\"" << a.target << "\")\n";
    }
    return complete ? kExitOk : kExitFailed;
}

std::string versionText(const storage::TImageDescriptor& d) {
    // Ten UTF-16LE characters; anything outside printable ASCII shows as '?'.
    std::string s;
    for (std::size_t i = 0; i + 1 < d.Version.size(); i += 2) {
        const unsigned c = d.Version[i] | (d.Version[i + 1] << 8);
        s += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    return s;
}

int imageInfo(Context& ctx, const std::string& file) {
    auto opened = ctx.os.openReadOnly(file);
    if (!opened.source) throw CliError(kExitUsage, file + ": " + storage::kCannotOpenImage);
    const auto size = opened.source->sizeBytes().value_or(0);
    if (size < 1024) throw CliError(kExitUsage, file + ": " + storage::kInvalidImage);
    std::array<std::byte, storage::kImageDescriptorSize> raw{};
    const auto got = opened.source->readTimed(raw, size - raw.size(), storage::kLongTimeout);
    if (got.status != platform::ReadStatus::Ok || got.bytes != raw.size()) {
        throw CliError(kExitUsage, file + ": " + storage::kInvalidImage);
    }
    const auto d = *storage::readRecord<storage::TImageDescriptor>(raw, 0);
    // Fields of the packed record are copied out: they must not bind to references.
    const std::uint64_t lba0 = d.LBA0, claimed = d.Sectors, total = d.Params.TotalPhysSec;
    const std::uint32_t bps = d.BytesPerSector, crc = d.CRC, cyl = d.Params.Heads, heads = d.Params.TracksPerHead,
                        spt = d.Params.SectorsPerTrack, paramBps = d.Params.BytesPerSector;
    const unsigned sourceType = d.SourceType, compressed = d.Compressed, mediaType = d.Params.MediaType,
                   mediaAttr = d.Params.MediaAttr;
    const std::uint32_t s = bps ? bps : 512;
    const std::uint64_t fileSectors = (size - raw.size()) / s;
    const bool crcOk = storage::descriptorCrcMatches(d);
    const bool sectorsOk = claimed == fileSectors;

    if (ctx.json) {
        ctx.out << nlohmann::ordered_json{
                       {"file", file},
                       {"version", versionText(d)},
                       {"source_type", sourceType},
                       {"lba0", lba0},
                       {"sectors", claimed},
                       {"file_sectors", fileSectors},
                       {"compressed", compressed},
                       {"bytes_per_sector", bps},
                       {"crc", fmt::format("{:08X}", crc)},
                       {"crc_valid", crcOk},
                       {"sectors_match", sectorsOk},
                       {"params",
                        {{"media_type", mediaType},
                         {"media_attr", mediaAttr},
                         {"cylinders", cyl},
                         {"heads", heads},
                         {"sectors_per_track", spt},
                         {"bytes_per_sector", paramBps},
                         {"total_sectors", total}}}}
                       .dump(2)
                << '\n';
    } else {
        static constexpr const char* kSourceTypes[] = {"physical drive", "volume", "image"};
        ctx.out << "Version:           " << versionText(d) << '\n'
                << "Source type:       " << sourceType
                << (sourceType < 3 ? std::string(" (") + kSourceTypes[sourceType] + ")" : std::string{}) << '\n'
                << "First source LBA:  " << lba0 << '\n'
                << "Sectors:           " << claimed << (sectorsOk ? "" : fmt::format(" (file holds {})", fileSectors))
                << '\n'
                << "Bytes per sector:  " << bps << '\n'
                << "Compressed:        " << compressed << '\n'
                << "Geometry:          " << cyl << " cylinders, " << heads << " heads, "
                << spt << " sectors/track, " << total << " sectors\n"
                << "CRC:               " << fmt::format("{:08X}", crc) << (crcOk ? " (valid)" : " (INVALID)") << '\n';
    }
    return crcOk && sectorsOk ? kExitOk : kExitFailed;
}

}  // namespace

void RegisterImage(CLI::App& app, Context& ctx) {
    auto* image = app.add_subcommand("image", "Create drive images and inspect their descriptors");
    image->require_subcommand(1);

    auto args = std::make_shared<CreateArgs>();
    auto* create = image->add_subcommand("create", "Copy a source sector by sector into a .dif drive image");
    create->add_option("SOURCE", args->source, "Image file, block device, drive:N or volume:N")->required();
    create->add_option("--to", args->target, "The image file to write")->required();
    create->add_option("--from", args->from, "First sector to copy");
    create->add_option("--count", args->count, "Number of sectors to copy");
    create->add_flag("--volume", args->volume, "Make a volume image (a synthetic MBR in front of the sectors)");
    create->callback([&ctx, args] { RunCommand(ctx, [&] { return createImage(ctx, *args); }); });

    auto file = std::make_shared<std::string>();
    auto* info = image->add_subcommand("info", "Show the descriptor of a .dif drive image");
    info->add_option("FILE", *file, "The .dif file")->required();
    info->callback([&ctx, file] { RunCommand(ctx, [&] { return imageInfo(ctx, *file); }); });
}

}  // namespace brenvale::cli
