#pragma once
// The command line's answers to a command's questions: flags first, a prompt on a terminal,
// and "No" when nobody can be asked.

#include <optional>
#include <string>

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

}  // namespace brenvale::cli
