#pragma once
// What the "Raw Recovery" window works on: the scan object whose advanced scan found the hits,
// those hits, and the services its commands use.

#include <functional>

#include "app/config.h"
#include "app/event_log.h"
#include "platform/platform.h"
#include "raw/signature_scan.h"
#include "scan/undelete.h"

namespace brenvale::app {

struct RawRecoverySession {
    scan::TUndelete& Scan;
    raw::RawScan& Raw;
    Config& Settings;
    EventLog& Log;
    platform::Platform& Os;
    // Saves the configuration after the window changed its layout.
    std::function<void()> SaveConfig;
};

// The hits of a scan object's completed advanced scan; null when it has none.
using RawScanLookup = std::function<raw::RawScan*(const scan::TUndelete&)>;

}  // namespace brenvale::app
