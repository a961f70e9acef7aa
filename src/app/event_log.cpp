#include "app/event_log.h"

#include <chrono>
#include <ctime>
#include <fstream>

#include "storage/device_events.h"

namespace brenvale::app {

std::string LocalTimeOfDay() {
    const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[16];
    std::strftime(buf, sizeof buf, "%H:%M:%S", &tm);
    return buf;
}

void EventLog::AddEvent(const std::string& kind, const std::string& description) {
    std::lock_guard lock(mutex_);
    entries_.push_back({kind, LocalTimeOfDay(), description});
}

std::size_t EventLog::Count() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

std::vector<EventEntry> EventLog::Entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

bool EventLog::SaveEventLog(const std::string& fileName) const {
    std::ofstream out(fileName, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << "Event\t\tTime\t\tDescription\r\n";
    for (const auto& e : Entries()) out << e.Event << '\t' << e.Time << '\t' << e.Description << "\r\n";
    out.flush();
    return static_cast<bool>(out);
}

void EventLog::AttachDeviceSink() {
    storage::SetOnDeviceEvent([this](const std::string& msg) { AddEvent(kDriveIoEvent, msg); });
}

void EventLog::DetachDeviceSink() { storage::SetOnDeviceEvent({}); }

}  // namespace brenvale::app
