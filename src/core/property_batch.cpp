#include "core/property_batch.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/messages.hpp"

namespace qm {

PropertyBatch::KeyId PropertyBatch::key(std::string_view text) {
    auto it = key_ids_.find(text);
    if (it != key_ids_.end()) return it->second;
    keys_.emplace_back(text);
    KeyId id = static_cast<KeyId>(keys_.size() - 1);
    key_ids_.emplace(std::string_view(keys_.back()), id);
    return id;
}

void PropertyBatch::add_int(KeyId key, std::int64_t v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    push(key, ValueKind::Int, bits, 0);
}

void PropertyBatch::add_float(KeyId key, double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
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

PropertyBatch::Run PropertyBatch::finish_record() {
    Run run{open_, entries_.size() - open_};
    open_ = entries_.size();
    if (run.count < 2) return run;
    auto first = entries_.begin() + static_cast<std::ptrdiff_t>(run.begin);
    auto last = entries_.end();
    // Stable, so the later of two equal keys stays later. Small maps (the usual case) take
    // an insertion sort that allocates nothing; a large dict must not cost quadratic time.
    auto by_key = [this](const Entry& a, const Entry& b) { return a.key != b.key && key_less(a.key, b.key); };
    if (run.count <= kInsertionSortLimit) {
        for (auto i = first + 1; i != last; ++i)
            for (auto j = i; j != first && by_key(*j, *(j - 1)); --j) std::swap(*j, *(j - 1));
    } else {
        std::stable_sort(first, last, by_key);
    }
    // Equal texts share a key number, so repeats sit side by side; the later one wins.
    auto out = first;
    for (auto i = first; i != last; ++i) {
        if (out != first && (out - 1)->key == i->key) {
            *(out - 1) = *i;
        } else {
            *out++ = *i;
        }
    }
    entries_.erase(out, last);
    open_ = entries_.size();
    run.count = static_cast<std::uint64_t>(out - first);
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
    for (const Entry& e : entries(run)) map.append_unsorted(keys_[e.key], view(e).to_value());
    return map;  // already in key order with unique keys
}

Status PropertyBatch::validate(Run run) const {
    for (const Entry& e : entries(run)) {
        if (keys_[e.key].empty()) return fail(std::string(msg::kPropertyKeyEmpty));
        if (e.kind == ValueKind::Float) {
            double f;
            std::memcpy(&f, &e.bits, 8);
            if (!std::isfinite(f)) return fail(msg::property_not_finite(keys_[e.key]));
        }
    }
    return ok();
}

PackedProps pack_properties(const PropertyBatch& batch, PropertyBatch::Run run,
                            std::vector<Symbol>& syms, SymbolTable& symbols, BlobArena& arena) {
    if (run.count == 0) return nullptr;
    auto entries = batch.entries(run);
    std::size_t size = 4;
    for (const auto& e : entries) {
        size += 5;
        switch (e.kind) {
            case ValueKind::Bool: size += 1; break;
            case ValueKind::Int:
            case ValueKind::Float: size += 8; break;
            case ValueKind::String: size += 4 + e.size; break;
        }
    }
    std::byte* blob = arena.allocate(size);
    std::byte* p = blob;
    auto put = [&p](const auto& v) {
        std::memcpy(p, &v, sizeof v);
        p += sizeof v;
    };
    put(static_cast<std::uint32_t>(entries.size()));
    if (syms.size() < batch.key_count()) syms.resize(batch.key_count(), kNoSymbol);
    for (const auto& e : entries) {
        Symbol& sym = syms[e.key];
        if (sym == kNoSymbol) sym = symbols.intern(batch.key_text(e.key));
        put(sym);
        put(static_cast<std::uint8_t>(e.kind));
        switch (e.kind) {
            case ValueKind::Bool: put(static_cast<std::uint8_t>(e.bits ? 1 : 0)); break;
            case ValueKind::Int:
            case ValueKind::Float: put(e.bits); break;
            case ValueKind::String: {
                std::string_view s = batch.view(e).s;
                put(static_cast<std::uint32_t>(s.size()));
                std::memcpy(p, s.data(), s.size());
                p += s.size();
                break;
            }
        }
    }
    return blob;
}

}  // namespace qm
