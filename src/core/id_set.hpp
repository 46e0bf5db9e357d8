// IdSet: an ascending set of ids as a sorted vector. Ids mostly arrive ascending, so
// insertion is an append in the common case and lookups hand out the vector as it is.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

namespace qm {

class IdSet {
public:
    void insert(std::uint64_t id) {
        if (ids_.empty() || ids_.back() < id) {
            ids_.push_back(id);
            return;
        }
        auto it = std::lower_bound(ids_.begin(), ids_.end(), id);
        if (it == ids_.end() || *it != id) ids_.insert(it, id);
    }
    bool contains(std::uint64_t id) const { return std::binary_search(ids_.begin(), ids_.end(), id); }
    std::span<const std::uint64_t> ids() const { return ids_; }
    std::size_t size() const { return ids_.size(); }
    bool empty() const { return ids_.empty(); }
    void shrink() { ids_.shrink_to_fit(); }

private:
    std::vector<std::uint64_t> ids_;
};

}  // namespace qm
