#pragma once
// A built volume opened through the fake platform as a raw image, the partition record the
// scan reads it through, and the scan object over both.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "partitions/partition.h"
#include "platform/fake/fake_platform.h"
#include "scan/entry_facts.h"
#include "scan/undelete.h"
#include "storage/device.h"
#include "storage/device_events.h"
#include "storage/fs_detect.h"

namespace brenvale::test {

class ScanHarness {
public:
    explicit ScanHarness(std::vector<std::byte> bytes, storage::MessageSink* ui = nullptr) {
        storage::DeviceAborted = false;
        part_.BootSector = storage::MakeBootSector(bytes);
        part_.SectCount64 = static_cast<std::int64_t>(bytes.size() / 512);
        os_.addDisk("/v.img", std::move(bytes), 512, false);
        dev_ = std::make_unique<storage::TDevice>(os_, "/v.img");
        scan_ = std::make_unique<scan::TUndelete>(*dev_, part_, ui);
    }

    scan::TUndelete& scan() { return *scan_; }
    platform::fake::FakeDisk& disk() { return os_.disk("/v.img"); }
    partitions::TPartition& partition() { return part_; }

    scan::EntryFacts facts(const scan::TScanEntry* e) const { return scan::DescribeEntry(*scan_, e); }

    // Every listed entry of that display name.
    std::vector<const scan::TScanEntry*> named(std::string_view name) const {
        std::vector<const scan::TScanEntry*> out;
        for (const scan::TScanEntry* e : scan_->ScannedFiles) {
            if (scan_->EntryDisplayName(e) == name) out.push_back(e);
        }
        return out;
    }
    std::size_t count(std::string_view name) const { return named(name).size(); }
    // The one entry of that name; a test failure and null when there is not exactly one.
    const scan::TScanEntry* one(std::string_view name) const {
        const auto all = named(name);
        if (all.size() != 1) {
            ADD_FAILURE() << "\"" << name << "\" is listed " << all.size() << " times";
            return nullptr;
        }
        return all.front();
    }
    // Display names of the entries whose parent is `parent` (null: the root's entries).
    std::vector<std::string> childrenOf(const scan::TScanEntry* parent) const {
        std::vector<std::string> out;
        for (const scan::TScanEntry* e : scan_->ScannedFiles) {
            if (facts(e).parent == parent) out.push_back(scan_->EntryDisplayName(e));
        }
        std::sort(out.begin(), out.end());
        return out;
    }

private:
    platform::fake::FakePlatform os_;
    partitions::TPartition part_;
    std::unique_ptr<storage::TDevice> dev_;
    std::unique_ptr<scan::TUndelete> scan_;
};

}  // namespace brenvale::test
