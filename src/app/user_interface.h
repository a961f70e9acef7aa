#pragma once
// What a command needs from whoever drives it: the desktop window answers with dialogs, the
// command line with flags and prompts, the tests with a script.

#include <cstdint>
#include <optional>
#include <string>

#include "storage/user_messages.h"

namespace brenvale::app {

using storage::kAppTitle;
using storage::MessageKind;

// A stretch of sectors: the first and how many.
struct SectorRange {
    std::int64_t First = 0;
    std::int64_t Count = 0;
};

class UserInterface : public storage::MessageSink {
public:
    // A Yes/No question; true for Yes.
    virtual bool AskYesNo(const std::string& text) = 0;
    // The range window: lets the user narrow `proposed` within the device. nullopt: cancelled.
    virtual std::optional<SectorRange> ChooseRange(const SectorRange& proposed, std::uint32_t sectorSize,
                                                   std::uint64_t deviceSectors) = 0;
    // Progress of the running operation, in percent, and the text of the first status panel.
    virtual void Progress(int /*percent*/) {}
    virtual void StatusText(const std::string& /*text*/) {}
};

}  // namespace brenvale::app
