#include "advscan/fat_tree.h"

#include <fmt/format.h>

#include <unordered_set>
#include <vector>

#include "advscan/fat_entry_access.h"
#include "scan/mid_entry.h"

namespace brenvale::advscan {

namespace {

constexpr int kMaxDepth = 512;

}  // namespace

std::string FatDisplayName(const scan::TScanEntry* e) {
    return fatentry::visit(e, [](const auto& m) { return scan::EntryDisplayName(m); });
}

void WalkFatTree(const FatRebuild& fat,
                 const std::function<void(const scan::TScanEntry* entry, const std::string& path, int depth)>& visit) {
    struct Frame {
        std::int32_t at, last;
        std::string path;
    };
    std::unordered_set<std::int64_t> listed;  // directory sectors whose entries were listed
    std::vector<Frame> stack;
    auto open = [&](std::int64_t sector, std::string path) {
        std::int32_t first = -1, last = -1;
        if (!listed.insert(sector).second || !fat.AdvGetFatBounds(sector, first, last)) return;
        stack.push_back({first, last, std::move(path)});
    };
    auto drain = [&](int baseDepth) {
        while (!stack.empty()) {
            Frame& f = stack.back();
            if (f.at > f.last) {
                stack.pop_back();
                continue;
            }
            const scan::TScanEntry* e = fat.FatFileList[static_cast<std::size_t>(f.at++)];
            const std::string path = f.path + "/" + FatDisplayName(e);
            const int depth = baseDepth + static_cast<int>(stack.size()) - 1;
            visit(e, path, depth);
            if (!fatentry::isFolder(e) || fat.SectorsPerClus <= 0 || !fat.RootSectNum || stack.size() >= kMaxDepth) continue;
            open(*fat.RootSectNum + (std::int64_t{fat.WidthClusOf(e)} - 2) * fat.SectorsPerClus, path);
        }
    };
    for (const std::int64_t s : fat.UnChainedFDTs) {
        const std::string path = fmt::format("{}/Folder{:08X}", kFatRoot, s);
        visit(nullptr, path, 0);
        open(s, path);
        drain(1);
    }
    if (!fat.FatFileList.empty() && fat.RootDirSectNum) {
        open(*fat.RootDirSectNum, kFatRoot);
        drain(0);
    }
}

}  // namespace brenvale::advscan
