#pragma once
// The entries of a scanned volume as the commands print and address them: in folder order,
// each with its path ("/" + display names joined by "/").

#include <functional>
#include <string>
#include <vector>

#include "cli/context.h"
#include "scan/entry_facts.h"

namespace brenvale::cli {

struct ScanRow {
    scan::EntryFacts facts;
    std::string path;
    int depth = 0;
    const scan::TScanEntry* entry = nullptr;
};

// Each folder followed by its contents, entries of one folder in the scan's order; with
// `deletedOnly` the deleted-only filter decides what shows.
std::vector<ScanRow> ListRows(scan::TUndelete& scan, bool deletedOnly);

// The same rows in the same order, handed over one at a time (`visit` may move from them)
// instead of being held all at once.
void ForEachRow(scan::TUndelete& scan, bool deletedOnly, const std::function<void(ScanRow&)>& visit);

// The rows as JSON ({"file_system", "result", "label", "entries"}) or as a table for people
// (paths, or names indented by depth with `tree`); `note` follows the summary line.
void PrintRows(Context& ctx, const scan::TUndelete& scan, int result, const std::vector<ScanRow>& rows, bool tree,
               const std::string& note);

}  // namespace brenvale::cli
