#include <charconv>

#include "cli/context.h"
#include "storage/device.h"
#include "storage/drive_enum.h"

namespace brenvale::cli {

namespace {

std::optional<unsigned> parseNumber(std::string_view text) {
    unsigned v = 0;
    const auto* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc{} || p != end || text.empty()) return std::nullopt;
    return v;
}

std::unique_ptr<storage::TDevice> openNumbered(Context& ctx, const std::string& sourceArg, unsigned driveNum) {
    try {
        return std::make_unique<storage::TDevice>(ctx.os, static_cast<std::uint8_t>(driveNum));
    } catch (const storage::DeviceError& e) {
        throw CliError(kExitUsage, sourceArg + ": " + e.what());
    }
}

}  // namespace

const char* SourceKindName(SourceKind kind) {
    switch (kind) {
        case SourceKind::Physical: return "physical";
        case SourceKind::Volume: return "volume";
        case SourceKind::Dif: return "dif";
        case SourceKind::Raw: return "raw";
    }
    return "raw";
}

OpenedSource OpenSource(Context& ctx, const std::string& sourceArg) {
    OpenedSource src;
    for (const auto& [prefix, kind] : {std::pair{std::string_view("drive:"), SourceKind::Physical},
                                       std::pair{std::string_view("volume:"), SourceKind::Volume}}) {
        if (sourceArg.rfind(prefix, 0) != 0) continue;
        const auto n = parseNumber(std::string_view(sourceArg).substr(prefix.size()));
        const bool drive = kind == SourceKind::Physical;
        if (!n || (drive && *n > 0xFFu - storage::kFirstPhysicalDrive) ||
            (!drive && (*n < 1 || *n > storage::kMaxVolumes))) {
            throw CliError(kExitUsage, sourceArg + ": not a drive or volume number (see 'brenvale-cli sources')");
        }
        src.device = openNumbered(ctx, sourceArg, drive ? storage::kFirstPhysicalDrive + *n : *n);
        src.kind = kind;
        return src;
    }
    try {
        src.device = std::make_unique<storage::TDevice>(ctx.os, sourceArg, ctx.sectorSize);
    } catch (const storage::DeviceError& e) {
        throw CliError(kExitUsage, sourceArg + ": " + e.what());
    }
    switch (src.device->DeviceType()) {
        case storage::kDevicePhysical: src.kind = SourceKind::Physical; break;
        case storage::kDeviceVolume: src.kind = SourceKind::Volume; break;
        default: src.kind = src.device->IsRawImage() ? SourceKind::Raw : SourceKind::Dif; break;
    }
    return src;
}

}  // namespace brenvale::cli
