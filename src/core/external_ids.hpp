// ExternalIdIndex: external id -> node id, as an open-addressing table of (hash, id).
// The text itself lives only in the node's slot; probes compare against it through the
// key_of callback, so each node's name is stored once.
#pragma once

#include <cstdint>
#include <functional>  // std::hash
#include <optional>
#include <string_view>
#include <vector>

namespace qm {

class ExternalIdIndex {
public:
    static std::uint64_t hash(std::string_view text) { return std::hash<std::string_view>{}(text); }

    // key_of(id) gives the external id of an indexed node.
    template <class KeyOf>
    std::optional<std::uint64_t> find(std::string_view text, std::uint64_t h,
                                      const KeyOf& key_of) const {
        if (slots_.empty()) return std::nullopt;
        std::size_t mask = slots_.size() - 1;
        for (std::size_t i = h & mask;; i = (i + 1) & mask) {
            const Slot& s = slots_[i];
            if (s.id == kEmpty) return std::nullopt;
            if (s.hash == h && key_of(s.id) == text) return s.id;
        }
    }

    // The caller guarantees the text is not present yet.
    void insert(std::uint64_t h, std::uint64_t id) {
        // Linear probing degrades sharply past half full; misses are the common case here
        // (every new name is looked up before it is inserted).
        if ((size_ + 1) * 2 > slots_.size()) grow();
        place(h, id);
        ++size_;
    }

    void reserve(std::size_t n) {
        while ((n + 1) * 2 > slots_.size()) grow();
    }

    std::size_t size() const { return size_; }

private:
    static constexpr std::uint64_t kEmpty = ~std::uint64_t{0};
    struct Slot {
        std::uint64_t hash = 0;
        std::uint64_t id = kEmpty;
    };

    void place(std::uint64_t h, std::uint64_t id) {
        std::size_t mask = slots_.size() - 1;
        std::size_t i = h & mask;
        while (slots_[i].id != kEmpty) i = (i + 1) & mask;
        slots_[i] = Slot{h, id};
    }
    void grow() {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(old.empty() ? 16 : old.size() * 2, Slot{});
        for (const Slot& s : old)
            if (s.id != kEmpty) place(s.hash, s.id);
    }

    std::vector<Slot> slots_;
    std::size_t size_ = 0;
};

}  // namespace qm
