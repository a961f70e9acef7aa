#pragma once
// What the "Search" dialog asks.

#include <string>

namespace brenvale::app {

// The dialog's values as the user left them.
struct SearchCriteria {
    bool NameEnabled = true;
    std::string Name;
    bool DateEnabled = false;
    int DateKind = 1;         // 0 created, 1 modified, 2 accessed
    double DateFrom = 0;      // day numbers (days since 1899-12-30, local time), either order
    double DateTo = 0;
    bool SizeEnabled = false;
    std::string SizeMin;      // KB of 1000 bytes, as typed; empty reads as 0
    std::string SizeMax;
    bool DeletedOnly = true;  // the "Deleted Files" choice; false: "All Files"
    bool SubFolders = true;
};

}  // namespace brenvale::app
