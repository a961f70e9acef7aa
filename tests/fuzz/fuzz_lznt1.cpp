// Arbitrary bytes as an LZNT1 compression unit: the decoder stays inside its input and never
// writes more than it is allowed to.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "scan/lznt1.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::byte> unit(size);
    for (std::size_t i = 0; i < size; ++i) unit[i] = std::byte{data[i]};
    for (const std::size_t limit : {std::size_t{65536}, std::size_t{100}, std::size_t{0}}) {
        std::vector<std::byte> out;
        brenvale::scan::Lznt1DecodeUnit(unit, out, limit);
        if (out.size() > limit) std::abort();
    }
    return 0;
}
