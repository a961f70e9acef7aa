#pragma once
// What a command needs from whoever drives it: the desktop window answers with dialogs, the
// command line with flags and prompts, the tests with a script.

#include <cstdint>
#include <optional>
#include <string>

namespace brenvale::app {

inline constexpr char kAppTitle[] = "Brenvale 1.1.2";

enum class MessageKind { Information, Warning, Error };

// A stretch of sectors: the first and how many.
struct SectorRange {
    std::int64_t First = 0;
    std::int64_t Count = 0;
};

class UserInterface {
public:
    virtual ~UserInterface() = default;
    // A Yes/No question; true for Yes.
    virtual bool AskYesNo(const std::string& text) = 0;
    virtual void ShowMessage(MessageKind kind, const std::string& text, const std::string& caption) = 0;
    // The range window: lets the user narrow `proposed` within the device. nullopt: cancelled.
    virtual std::optional<SectorRange> ChooseRange(const SectorRange& proposed, std::uint32_t sectorSize,
                                                   std::uint64_t deviceSectors) = 0;
    // Progress of the running operation, in percent, and the text of the first status panel.
    virtual void Progress(int /*percent*/) {}
    virtual void StatusText(const std::string& /*text*/) {}
    // Lets the front end process its pending events; called once per batch of long work.
    virtual void Pump() {}
};

}  // namespace brenvale::app
