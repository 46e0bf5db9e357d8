// SymbolTable: interns the texts that repeat across records (labels, edge types, property
// keys) as 32-bit symbols. Append-only, so a graph and its snapshots can share one table:
// a snapshot only ever refers to symbols that existed when it was taken.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace qm {

using Symbol = std::uint32_t;
inline constexpr Symbol kNoSymbol = 0xffffffffu;

class SymbolTable {
public:
    SymbolTable() = default;
    SymbolTable(const SymbolTable&) = delete;
    SymbolTable& operator=(const SymbolTable&) = delete;

    Symbol intern(std::string_view text) {
        // Records repeat the same few keys and types: check the recent ones before hashing.
        for (Symbol sym : recent_)
            if (sym != kNoSymbol && texts_[sym] == text) return sym;
        Symbol sym = intern_slow(text);
        recent_[next_recent_++ % kRecent] = sym;
        return sym;
    }
    std::optional<Symbol> find(std::string_view text) const {
        auto it = index_.find(text);
        if (it == index_.end()) return std::nullopt;
        return it->second;
    }
    std::string_view text(Symbol sym) const { return texts_[sym]; }

private:
    static constexpr std::size_t kRecent = 4;

    Symbol intern_slow(std::string_view text) {
        auto it = index_.find(text);
        if (it != index_.end()) return it->second;
        texts_.emplace_back(text);
        Symbol sym = static_cast<Symbol>(texts_.size() - 1);
        index_.emplace(std::string_view(texts_.back()), sym);
        return sym;
    }

    Symbol recent_[kRecent] = {kNoSymbol, kNoSymbol, kNoSymbol, kNoSymbol};
    std::size_t next_recent_ = 0;
    std::deque<std::string> texts_;  // deque: element addresses stay put as it grows
    std::unordered_map<std::string_view, Symbol> index_;
};

}  // namespace qm
