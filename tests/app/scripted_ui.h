#pragma once
// A UserInterface for tests: answers from a script, and a record of everything it was told.

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/raw_recovery_session.h"
#include "app/recover_command.h"
#include "app/shell.h"
#include "app/user_interface.h"

namespace brenvale::test {

class ScriptedUi : public app::UserInterface {
public:
    bool answer = false;                         // to every Yes/No question
    std::optional<app::SectorRange> range;       // the range window's result; nullopt: proposed
    bool cancelRange = false;
    std::function<void(int)> onProgress;         // runs on every progress report
    std::function<void()> onPump;
    std::function<void(const std::string&)> onStatus;  // runs on every status text

    std::vector<std::string> questions;
    std::vector<std::pair<app::MessageKind, std::string>> messages;
    std::vector<app::SectorRange> proposedRanges;
    std::vector<int> progress;
    std::vector<std::string> statusTexts;

    // Answers of the dialogs, taken in order; an empty queue cancels.
    std::deque<std::string> folders, openFiles, saveFiles;
    std::vector<std::string> saveSuggestions;  // what each save dialog proposed
    std::vector<std::string> folderInitialDirs;   // where each folder picker opened
    std::vector<std::string> openFilters;         // the filter of each open dialog
    int scanMode = 0;
    std::vector<std::vector<app::ScanModeChoice>> scanModeDialogs;
    std::optional<app::SearchCriteria> search;
    std::vector<app::RecoverySummary> summaries;
    std::array<std::string, 4> statusBar;

    std::optional<std::string> ChooseFolder(const std::string&, const std::string& initialDir) override {
        folderInitialDirs.push_back(initialDir);
        return take(folders);
    }
    std::optional<std::string> ChooseOpenFile(const std::string&, const std::string& filter) override {
        openFilters.push_back(filter);
        return take(openFiles);
    }
    std::optional<std::string> ChooseSaveFile(const std::string&, const std::string&, const std::string&,
                                              const std::string& suggested) override {
        saveSuggestions.push_back(suggested);
        return take(saveFiles);
    }
    int ChooseScanMode(const std::vector<app::ScanModeChoice>& choices) override {
        scanModeDialogs.push_back(choices);
        return scanMode;
    }
    std::optional<app::SearchCriteria> AskSearch() override { return search; }
    void ShowRecoverySummary(const app::RecoverySummary& s) override { summaries.push_back(s); }
    void ShowStatusBar(const std::array<std::string, 4>& panels) override { statusBar = panels; }

    bool AskYesNo(const std::string& text) override {
        questions.push_back(text);
        return answer;
    }
    void ShowMessage(app::MessageKind kind, const std::string& text, const std::string&) override {
        messages.emplace_back(kind, text);
    }
    std::optional<app::SectorRange> ChooseRange(const app::SectorRange& proposed, std::uint32_t,
                                                std::uint64_t) override {
        proposedRanges.push_back(proposed);
        if (cancelRange) return std::nullopt;
        return range.value_or(proposed);
    }
    void Progress(int percent) override {
        progress.push_back(percent);
        if (onProgress) onProgress(percent);
    }
    void StatusText(const std::string& text) override {
        statusTexts.push_back(text);
        if (onStatus) onStatus(text);
    }
    // Each "Raw Recovery" window opened: the number of hits it was given.
    std::vector<std::size_t> rawWindows;
    void ShowRawRecovery(app::RawRecoverySession& session) override { rawWindows.push_back(session.Raw.RawFiles.size()); }
    void Pump() override {
        if (onPump) onPump();
    }

private:
    static std::optional<std::string> take(std::deque<std::string>& q) {
        if (q.empty()) return std::nullopt;
        std::string v = std::move(q.front());
        q.pop_front();
        return v;
    }
};

}  // namespace brenvale::test
