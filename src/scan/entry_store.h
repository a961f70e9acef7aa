#pragma once
// Where a scan keeps its entry records: they never move once added (the scan hands out pointers
// to them), and adding them costs one allocation per few hundred records instead of one per
// few, as a deque of records this size would.

#include <cstddef>
#include <utility>
#include <vector>

namespace brenvale::scan {

template <class T, std::size_t PerChunk = 512>
class EntryStore {
public:
    template <class... Args>
    T& emplace_back(Args&&... args) {
        if (chunks_.empty() || chunks_.back().size() == PerChunk) {
            chunks_.emplace_back();
            chunks_.back().reserve(PerChunk);  // filled within its capacity: nothing moves
        }
        ++size_;
        return chunks_.back().emplace_back(std::forward<Args>(args)...);
    }
    void pop_back() {
        chunks_.back().pop_back();
        if (chunks_.back().empty()) chunks_.pop_back();
        --size_;
    }
    void clear() {
        chunks_.clear();
        size_ = 0;
    }
    std::size_t size() const { return size_; }

private:
    std::vector<std::vector<T>> chunks_;
    std::size_t size_ = 0;
};

}  // namespace brenvale::scan
