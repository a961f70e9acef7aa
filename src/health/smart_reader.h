#pragma once
// Reading a drive's health pages. ATA commands try each form the platform offers, the form
// that worked first next time; a drive on which no form works, or whose remembered form
// stops answering, is left alone until the drive list is refreshed. Every command has its
// own time-out and every command sequence a budget, so a silent bridge costs seconds once,
// not at every look.

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "health/drive_pages.h"
#include "platform/ata_reply.h"
#include "platform/drive_commands.h"
#include "platform/platform.h"

namespace brenvale::health {

inline constexpr std::uint32_t kCommandTimeoutMs = 2000;
inline constexpr std::uint32_t kSequenceBudgetMs = 12000;

class SmartReader {
public:
    // `clock` gives the time for the budgets (a fake clock in tests).
    SmartReader(platform::DriveCommands& commands, platform::Platform& clock) : commands_(commands), clock_(clock) {}

    DrivePages Read(const std::string& path);

    // Forgets the forms and the failures learnt ("Refresh Drive List"). Never waits for a
    // reading in progress: that reading forgets when it ends.
    void ClearMemory();

    std::optional<platform::AtaForm> RememberedDataForm(const std::string& path) const;
    std::optional<platform::AtaForm> RememberedNonDataForm(const std::string& path) const;
    bool GivenUp(const std::string& path) const;

private:
    struct Memory {
        std::optional<platform::AtaForm> dataForm;
        std::optional<platform::AtaForm> nonDataForm;
        bool givenUp = false;
        std::string why;  // what made us give up
    };
    class Session;
    DrivePages readLocked(const std::string& path);

    platform::DriveCommands& commands_;
    platform::Platform& clock_;
    mutable std::mutex mutex_;  // one reading at a time; the memory is shared by all
    std::map<std::string, Memory> memory_;
    std::atomic<bool> clearRequested_{false};
};

}  // namespace brenvale::health
