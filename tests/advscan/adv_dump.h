#pragma once
// A canonical text of what an advanced scan ended with: the standard scan's entries, the
// harvest, the geometry, the rebuilt trees and the raw hits. Two scans that should agree
// compare their dumps, and a difference shows as a line.

#include <fmt/format.h>

#include <string>

#include "advscan/advanced_scan.h"
#include "advscan/exfat_tree.h"
#include "advscan/fat_tree.h"
#include "raw/signature_scan.h"
#include "scan/entry_cast.h"
#include "scan/undelete.h"

namespace brenvale::advscan {

inline std::string DumpAdvancedScan(const AdvancedScan& adv) {
    std::string out;
    auto line = [&](const std::string& s) {
        out += s;
        out += '\n';
    };
    const scan::TUndelete& scan = adv.Scan();
    auto name = [&](const scan::TScanEntry* e) { return e ? scan.EntryDisplayName(e) : std::string("-"); };
    line(fmt::format("standard {}", scan.ScannedFiles.size()));
    for (const scan::TScanEntry* e : scan.ScannedFiles) {
        std::string where;
        if (e->Kind() == scan::EntryKind::Ntfs) {
            const auto* n = scan::AsNtfs(e);
            where = fmt::format("rec {} sect {} size {} flag {}", n->recordnumber, n->sectornumber, n->realsize, n->flag);
        } else if (e->Kind() == scan::EntryKind::Fat32) {
            const auto* m = scan::AsMid32(e);
            where = fmt::format("clus {} sect {} status {} first {}", m->ClusNumber, m->DirSectNum, m->Status,
                                scan::FirstCluster(*m));
        } else {
            const auto* m = scan::AsMid(e);
            where = fmt::format("clus {} sect {} status {} first {} dclus {}", m->ClusNumber, m->DirSectNum, m->Status,
                                scan::FirstCluster(*m), m->DirClusNum);
        }
        line(fmt::format("  {} {} [{}] in {}", static_cast<int>(e->Kind()), name(e), where, name(scan.EntryParent(e))));
    }
    const HarvestLists& l = adv.Lists;
    line(fmt::format("fdts {} fat32 {} exfat {} length {}", fmt::join(l.FDTs, ","), l.Fat32Count, fmt::join(l.ExFatDirs, ","),
                     l.RecordLength));
    line(fmt::format("votes {}", fmt::join(l.Votes, ",")));
    for (const auto* r : l.NTFSFileList) {
        line(fmt::format("  ntfs {} rec {} sect {} size {}/{} flag {} time {}", adv.NtfsPath(*r), r->recordnumber,
                         r->sectornumber, r->realsize, r->allocsize, r->flag, r->head.FileAlteredTime));
    }
    line(fmt::format("geometry spc {} volstart {} fat {} spc {} root {} table {} exfat {} heap {}", adv.SectorsPerClusNtfs,
                     adv.AdvNtfsVolStart(), adv.Fat.FatType, adv.Fat.SectorsPerClus, adv.Fat.RootSectNum.value_or(-1),
                     adv.Fat.FatOK ? adv.Fat.FatStart : -1, adv.ExFatSPC(), adv.ExFatHeap()));
    WalkFatTree(adv.Fat, [&](const scan::TScanEntry* e, const std::string& path, int depth) {
        line(fmt::format("  fat {} {} {}", depth, path, e ? FatDisplayName(e) : std::string("<folder>")));
    });
    WalkExFatTree(l.FatFileList, adv.ExFatTree, adv.ExFatSPC(), adv.ExFatHeap(),
                  [&](const scan::TMidEntry* e, std::int32_t segment, const std::string& path, int depth) {
                      line(fmt::format("  exfat {} {} {} {}", depth, path, segment,
                                       e ? fmt::format("{} size {}", scan::EntryDisplayName(*e), scan::EntrySize(*e)) : ""));
                  });
    const raw::RawScan& raw = adv.Raw();
    auto hit = [&](const char* what, const raw::TFoundFile& f) {
        line(fmt::format("  {} {}/{} {} at {} size {} state {},{},{}", what, f.MajorType, f.MinorType, f.Ext(), f.LBA, f.Size,
                         f.ParsePoint, f.ExtraData1, f.ExtraData2));
    };
    line(fmt::format("raw {} pending {} counts {}", raw.RawFiles.size(), raw.PendingRawFiles.size(),
                     fmt::join(raw.NumberOfRawFiles, ",")));
    for (const auto& f : raw.RawFiles) hit("hit", f);
    for (const auto& f : raw.PendingRawFiles) hit("pending", f);
    return out;
}

}  // namespace brenvale::advscan
