#pragma once
// What a command needs from whoever drives it: the desktop window answers with dialogs, the
// command line with flags and prompts, the tests with a script.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/search_criteria.h"
#include "storage/user_messages.h"

namespace brenvale::app {

using storage::kAppTitle;
using storage::MessageKind;

// A stretch of sectors: the first and how many.
struct SectorRange {
    std::int64_t First = 0;
    std::int64_t Count = 0;
};

struct ScanModeChoice;
struct RecoverySummary;
struct RawRecoverySession;

// The result of the scan-method dialog (0: cancelled).
inline constexpr int kScanModeNormal = 100;
inline constexpr int kScanModeAdvanced = 101;
inline constexpr int kScanModePartitions = 102;
inline constexpr int kScanModeResume = 103;

class UserInterface : public storage::MessageSink {
public:
    // A Yes/No question; true for Yes.
    virtual bool AskYesNo(const std::string& text) = 0;
    // The range window: lets the user narrow `proposed` within the device. nullopt: cancelled.
    virtual std::optional<SectorRange> ChooseRange(const SectorRange& proposed, std::uint32_t sectorSize,
                                                   std::uint64_t deviceSectors) = 0;
    // Progress of the running operation in percent (the progress bar, and " n%" in status panel 0),
    // and the context text of status panel 1 (the folder being read, the file being recovered).
    virtual void Progress(int /*percent*/) {}
    virtual void StatusText(const std::string& /*text*/) {}

    // Dialogs of the desktop window's commands. A front end without them cancels.
    // The folder picker: the chosen folder, or nullopt when cancelled.
    virtual std::optional<std::string> ChooseFolder(const std::string& /*title*/, const std::string& /*initialDir*/) {
        return std::nullopt;
    }
    // Open and save dialogs; `filter` as "Drive image file (*.dif)|*.dif".
    virtual std::optional<std::string> ChooseOpenFile(const std::string& /*title*/, const std::string& /*filter*/) {
        return std::nullopt;
    }
    // `suggested`: the folder and name the dialog proposes (empty: none).
    virtual std::optional<std::string> ChooseSaveFile(const std::string& /*title*/, const std::string& /*filter*/,
                                                      const std::string& /*defaultExt*/, const std::string& /*suggested*/ = {}) {
        return std::nullopt;
    }
    // "Select Scan Mode": one of the kScanMode values, or 0.
    virtual int ChooseScanMode(const std::vector<ScanModeChoice>& /*choices*/) { return 0; }
    // The "Search" dialog.
    virtual std::optional<SearchCriteria> AskSearch() { return std::nullopt; }
    // "Recovery Summary".
    virtual void ShowRecoverySummary(const RecoverySummary& /*summary*/) {}
    // The four status-bar panels and whether the progress bar shows.
    virtual void ShowStatusBar(const std::array<std::string, 4>& /*panels*/) {}
    virtual void ProgressVisible(bool /*visible*/) {}
    // The modal "Raw Recovery" window over a scan object's hits.
    virtual void ShowRawRecovery(RawRecoverySession& /*session*/) {}
};

}  // namespace brenvale::app
