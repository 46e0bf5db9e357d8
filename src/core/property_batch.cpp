#include "core/property_batch.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/messages.hpp"

namespace qm {

TextTable::Id TextTable::id(std::string_view text) {
    auto it = ids_.find(text);
    if (it != ids_.end()) return it->second;
    texts_.emplace_back(text);
    Id id = static_cast<Id>(texts_.size() - 1);
    if (text.empty()) empty_ = id;
    ids_.emplace(std::string_view(texts_.back()), id);
    return id;
}

void PropertyBatch::grow() {
    entries_.resize(std::max<std::size_t>(64, entries_.size() * 2));
}

void PropertyBatch::add_int(KeyId key, std::int64_t v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    push(key, ValueKind::Int, bits, 0);
}

void PropertyBatch::add_float(KeyId key, double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    if (!std::isfinite(v)) has_non_finite_ = true;
    push(key, ValueKind::Float, bits, 0);
}

void PropertyBatch::add_string(KeyId key, std::string_view v) {
    push(key, ValueKind::String, text_.size(), v.size());
    text_.append(v);
}

void PropertyBatch::add_value(KeyId key, const PropertyValue& v) {
    switch (kind_of(v)) {
        case ValueKind::Bool: add_bool(key, std::get<bool>(v)); break;
        case ValueKind::Int: add_int(key, std::get<std::int64_t>(v)); break;
        case ValueKind::Float: add_float(key, std::get<double>(v)); break;
        case ValueKind::String: add_string(key, std::get<std::string>(v)); break;
    }
}

namespace {
constexpr std::size_t kInsertionSortLimit = 32;
}  // namespace

void PropertyBatch::order_open_record(std::span<const Entry> open) {
    const std::size_t n = open.size();
    order_.resize(n);
    for (std::size_t i = 0; i < n; ++i) order_[i] = static_cast<std::uint32_t>(i);
    // Stable, so the later of two equal keys stays later. Small maps (the usual case) take
    // an insertion sort that allocates nothing; a large dict must not cost quadratic time.
    auto by_key = [&](std::uint32_t a, std::uint32_t b) {
        return open[a].key != open[b].key && keys_.text(open[a].key) < keys_.text(open[b].key);
    };
    if (n <= kInsertionSortLimit) {
        for (std::size_t i = 1; i < n; ++i)
            for (std::size_t j = i; j > 0 && by_key(order_[j], order_[j - 1]); --j)
                std::swap(order_[j], order_[j - 1]);
    } else {
        std::stable_sort(order_.begin(), order_.end(), by_key);
    }
    // Equal texts share a key number, so repeats sit side by side; the later one wins.
    std::size_t out = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (out > 0 && open[order_[out - 1]].key == open[order_[i]].key) {
            order_[out - 1] = order_[i];
        } else {
            order_[out++] = order_[i];
        }
    }
    order_.resize(out);
    in_order_ = out == n;
    for (std::size_t i = 0; in_order_ && i < out; ++i) in_order_ = order_[i] == i;
    shape_.resize(n);
    for (std::size_t i = 0; i < n; ++i) shape_[i] = open[i].key;
}

PropertyBatch::Run PropertyBatch::finish_record() {
    Run run{open_, used_ - open_};
    if (run.count < 2) {
        open_ = used_;
        return run;
    }
    std::span<const Entry> open(entries_.data() + run.begin, run.count);
    bool same_shape = shape_.size() == run.count;
    for (std::size_t i = 0; same_shape && i < run.count; ++i) same_shape = shape_[i] == open[i].key;
    if (!same_shape) order_open_record(open);
    if (in_order_ || (run.count == 2 && order_.size() == 2)) {
        // Two entries out of order can only be swapped.
        if (!in_order_) std::swap(entries_[run.begin], entries_[run.begin + 1]);
        open_ = used_;
        return run;
    }
    // Small records are reordered through a local copy; that is the common case.
    constexpr std::size_t kSmall = 8;
    Entry small[kSmall];
    const Entry* from = small;
    if (run.count <= kSmall) {
        for (std::size_t i = 0; i < run.count; ++i) small[i] = open[i];
    } else {
        scratch_.assign(open.begin(), open.end());
        from = scratch_.data();
    }
    for (std::size_t i = 0; i < order_.size(); ++i) entries_[run.begin + i] = from[order_[i]];
    run.count = order_.size();
    used_ = run.begin + run.count;
    open_ = used_;
    return run;
}

PropertyBatch::Run PropertyBatch::add_map(const PropertyMap& map) {
    for (const auto& [k, v] : map) add_value(key(k), v);
    return finish_record();
}

ValueView PropertyBatch::view(const Entry& e) const {
    ValueView v;
    v.kind = e.kind;
    switch (e.kind) {
        case ValueKind::Bool: v.b = e.bits != 0; break;
        case ValueKind::Int: std::memcpy(&v.i, &e.bits, 8); break;
        case ValueKind::Float: std::memcpy(&v.f, &e.bits, 8); break;
        case ValueKind::String: v.s = std::string_view(text_).substr(e.bits, e.size); break;
    }
    return v;
}

PropertyMap PropertyBatch::to_map(Run run) const {
    PropertyMap map;
    map.reserve(run.count);
    for (const Entry& e : entries(run)) map.append_unsorted(std::string(keys_.text(e.key)), view(e).to_value());
    return map;  // already in key order with unique keys
}

Status PropertyBatch::validate(Run run) const {
    if (keys_.empty_id() == TextTable::kNone && !has_non_finite_) return ok();
    for (const Entry& e : entries(run)) {
        if (e.key == keys_.empty_id()) return fail(std::string(msg::kPropertyKeyEmpty));
        if (e.kind == ValueKind::Float) {
            double f;
            std::memcpy(&f, &e.bits, 8);
            if (!std::isfinite(f)) return fail(msg::property_not_finite(keys_.text(e.key)));
        }
    }
    return ok();
}

PackedProps pack_properties(const PropertyBatch& batch, PropertyBatch::Run run,
                            std::vector<Symbol>& syms, SymbolTable& symbols, BlobArena& arena,
                            PropertyIndex& index, std::uint64_t id) {
    if (run.count == 0) return nullptr;
    auto entries = batch.entries(run);
    std::size_t size = 0;
    for (const auto& e : entries) size += packed_entry_size(e.kind, e.size);
    BlobWriter out(arena, size, static_cast<std::uint32_t>(entries.size()));
    if (syms.size() < batch.key_count()) syms.resize(batch.key_count(), kNoSymbol);
    for (const auto& e : entries) {
        Symbol& sym = syms[e.key];
        if (sym == kNoSymbol) sym = symbols.intern(batch.key_text(e.key));
        ValueView v = batch.view(e);
        out.entry(sym, v);
        // Bool bits are 0 or 1, which is also the index's payload for them.
        index.add(id, sym, e.kind, e.kind == ValueKind::String ? PropertyIndex::text_payload(v.s) : e.bits);
    }
    return out.blob();
}

}  // namespace qm
