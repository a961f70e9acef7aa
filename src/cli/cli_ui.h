#pragma once
// The command line's answers to a command's questions: flags first, a prompt on a terminal,
// and "No" when nobody can be asked.

#include <optional>
#include <string>
#include <string_view>

#include "app/user_interface.h"
#include "cli/context.h"

namespace brenvale::cli {

class CliUi : public app::UserInterface {
public:
    explicit CliUi(Context& ctx) : ctx_(ctx) {}

    std::optional<bool> answer;           // --resume / --restart
    std::optional<app::SectorRange> range;  // --from / --count
    std::string progressLabel = "Working";

    bool AskYesNo(const std::string& text) override;
    void ShowMessage(app::MessageKind kind, const std::string& text, const std::string& caption) override;
    std::optional<app::SectorRange> ChooseRange(const app::SectorRange& proposed, std::uint32_t sectorSize,
                                                std::uint64_t deviceSectors) override;
    void Progress(int percent) override;
    void StatusText(const std::string& text) override;

private:
    Context& ctx_;
    std::string status_;  // the last status text: progress percentages follow it
};

// The line breaks of the system's texts (CR LF, or a lone CR), as a terminal wants them.
std::string ForTerminal(std::string text);

// Text from the disk (names, labels, paths) for a line of text output: control characters
// (C0, DEL and the C1 range) shown as \xHH or \u00HH, so that no name rings the bell, moves
// the cursor, sends an escape sequence or breaks a table row. Everything else is kept.
std::string Printable(std::string_view text);

}  // namespace brenvale::cli
