#pragma once
// A UserInterface for tests: answers from a script, and a record of everything it was told.

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/user_interface.h"

namespace brenvale::test {

class ScriptedUi : public app::UserInterface {
public:
    bool answer = false;                         // to every Yes/No question
    std::optional<app::SectorRange> range;       // the range window's result; nullopt: proposed
    bool cancelRange = false;
    std::function<void(int)> onProgress;         // runs on every progress report
    std::function<void()> onPump;

    std::vector<std::string> questions;
    std::vector<std::pair<app::MessageKind, std::string>> messages;
    std::vector<app::SectorRange> proposedRanges;
    std::vector<int> progress;
    std::vector<std::string> statusTexts;

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
    void StatusText(const std::string& text) override { statusTexts.push_back(text); }
    void Pump() override {
        if (onPump) onPump();
    }
};

}  // namespace brenvale::test
