// Cabinet files carry their whole length in the header.

#include <cstring>

#include "raw/formats/formats.h"
#include "storage/le.h"

namespace brenvale::raw::formats {

bool TestCab(ScanContext&, Bytes s, TFoundFile& hit) {
    if (s.size() < 12 || std::memcmp(s.data(), "MSCF", 4) != 0) return false;
    hit = MakeHit(0, 3, "cab");
    hit.Size = storage::le32(s, 8);  // cbCabinet
    return true;
}

}  // namespace brenvale::raw::formats
