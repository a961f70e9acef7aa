#include "storage/device_events.h"

#include <mutex>

namespace brenvale::storage {

std::atomic<bool> DeviceAborted{false};

namespace {
std::mutex& sinkMutex() {
    static std::mutex m;
    return m;
}
TOnDeviceEvent& sinkSlot() {
    static TOnDeviceEvent sink;
    return sink;
}
}  // namespace

void SetOnDeviceEvent(TOnDeviceEvent sink) {
    std::lock_guard lock(sinkMutex());
    sinkSlot() = std::move(sink);
}

void OnDeviceEvent(const std::string& message) {
    TOnDeviceEvent sink;
    {
        std::lock_guard lock(sinkMutex());
        sink = sinkSlot();
    }
    // Called outside the lock so a sink may itself send device messages.
    if (sink) sink(message);
}

}  // namespace brenvale::storage
