#pragma once
// "Search": what the search dialog asks, and its conversion into the scan object's search.

#include <cstdint>
#include <string>

#include "app/search_criteria.h"
#include "scan/undelete.h"

namespace brenvale::app {

// The arguments of FindFiles the criteria give.
struct SearchQuery {
    std::string Name;
    int DateType = 0;
    double DateFrom = 0, DateTo = 0;
    std::int64_t SizeMin = -1, SizeMax = -1;
    bool DeletedOnly = true;
    bool SubFolders = true;
};

// Throws std::invalid_argument with a message for the user when a size is not a number.
SearchQuery ToSearchQuery(const SearchCriteria& c);

// Clears FoundFiles and fills it with the hits in `aDir` (null: the whole volume); with
// `filterApplies` only deleted entries count whatever the query says. False when the search
// ended early.
bool RunSearch(scan::TUndelete& scan, const scan::TScanEntry* aDir, const SearchQuery& q, bool filterApplies);

}  // namespace brenvale::app
