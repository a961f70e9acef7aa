#pragma once
// The event log: what long operations did and every device problem, for this run of the
// program. Entries are only appended; the log can be saved as text.

#include <mutex>
#include <string>
#include <vector>

namespace brenvale::app {

struct EventEntry {
    std::string Event;        // the kind of entry ("Drive I/O", "Create Image", ...)
    std::string Time;         // local time of day when added
    std::string Description;
};

inline constexpr char kDriveIoEvent[] = "Drive I/O";

class EventLog {
public:
    void AddEvent(const std::string& kind, const std::string& description);
    std::vector<EventEntry> Entries() const;
    // How many entries there are; cheaper than Entries() for a view that polls.
    std::size_t Count() const;
    // Writes the log (replacing the file): a header, then one line per entry, CR LF endings.
    bool SaveEventLog(const std::string& fileName) const;
    // Routes the device layer's messages here as "Drive I/O" entries until detached.
    void AttachDeviceSink();
    static void DetachDeviceSink();

private:
    mutable std::mutex mutex_;
    std::vector<EventEntry> entries_;
};

// "HH:MM:SS" of the local time now.
std::string LocalTimeOfDay();

}  // namespace brenvale::app
