#pragma once
// Process-wide reporting of the device layer: the abort flag every long loop polls, and the
// sink that receives the device messages (the event log installs itself there).

#include <atomic>
#include <functional>
#include <string>

namespace brenvale::storage {

// Set whenever a batch read aborts; cleared only by the command that starts a long operation.
extern std::atomic<bool> DeviceAborted;

using TOnDeviceEvent = std::function<void(const std::string&)>;

// Installs the sink (an empty function removes it). Messages sent without a sink are dropped.
void SetOnDeviceEvent(TOnDeviceEvent sink);

// Passes one message to the sink, if there is one. Safe to call from any thread.
void OnDeviceEvent(const std::string& message);

}  // namespace brenvale::storage
