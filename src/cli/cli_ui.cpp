#include "cli/cli_ui.h"

#include <fmt/format.h>

#include <algorithm>

#include <iostream>

#include "platform/terminal.h"

namespace brenvale::cli {

std::string ForTerminal(std::string text) {
    for (std::size_t p; (p = text.find("\r\n")) != std::string::npos;) text.erase(p, 1);
    std::replace(text.begin(), text.end(), '\r', '\n');
    return text;
}

std::string Printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            out += fmt::format("\\x{:02x}", c);
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            // U+0080..U+009F: terminals take some of them (CSI) as the start of a sequence.
            out += fmt::format("\\u{:04x}", static_cast<unsigned char>(text[++i]));
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool CliUi::AskYesNo(const std::string& text) {
    if (answer) return *answer;
    if (!platform::stdinIsTerminal()) return false;
    ctx_.progress.finish();
    ctx_.err << ForTerminal(text) << "\n[y/N] ";
    ctx_.err.flush();
    std::string line;
    if (!std::getline(std::cin, line)) return false;
    return !line.empty() && (line[0] == 'y' || line[0] == 'Y');
}

void CliUi::ShowMessage(app::MessageKind kind, const std::string& text, const std::string& caption) {
    ctx_.progress.finish();
    const char* prefix = kind == app::MessageKind::Error ? "error: " : kind == app::MessageKind::Warning ? "warning: " : "";
    ctx_.err << "brenvale-cli: " << prefix;
    if (caption != app::kAppTitle) ctx_.err << caption << ": ";
    ctx_.err << ForTerminal(text) << '\n';
}

std::optional<app::SectorRange> CliUi::ChooseRange(const app::SectorRange& proposed, std::uint32_t,
                                                   std::uint64_t deviceSectors) {
    // Clamped to the device, as the range window does.
    app::SectorRange r = range.value_or(proposed);
    const auto sectors = static_cast<std::int64_t>(deviceSectors);
    r.First = std::clamp<std::int64_t>(r.First, 0, sectors > 0 ? sectors - 1 : 0);
    r.Count = std::clamp<std::int64_t>(r.Count, 0, sectors - r.First);
    return r;
}

void CliUi::Progress(int percent) {
    if (status_.empty()) {
        ctx_.progress.update(fmt::format("{}: {}%", progressLabel, percent));
    } else {
        ctx_.progress.update(fmt::format("{} {}%", status_, percent));
    }
}

}  // namespace brenvale::cli

namespace brenvale::cli {

void CliUi::StatusText(const std::string& text) {
    // Status texts carry the names of the files being written.
    status_ = Printable(text);
    ctx_.progress.update(fmt::format("{}: {}", progressLabel, status_));
}

}  // namespace brenvale::cli
