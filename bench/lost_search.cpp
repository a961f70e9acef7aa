// A full lost-partition search over a whole image, the way find-partitions runs it. Timed from
// outside by bench/run-lost-search.sh against bench/read_throughput on the same file.

#include <cstdio>
#include <exception>

#include "partitions/physical_drv.h"
#include "platform/linux/linux_platform.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lost_search IMAGE\n");
        return 2;
    }
    try {
        auto os = brenvale::platform::makeLinuxPlatform();
        brenvale::partitions::TPhysicalDrv drv(*os, std::string(argv[1]));
        const auto sectors = static_cast<std::int64_t>(drv.Device->Sectors());
        const int result = drv.DetectLostParti(&drv.Partition, 0, sectors, false);
        std::printf("result %d, %zu lost partitions\n", result, drv.LostPartitionList.size());
        return result == 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
}
