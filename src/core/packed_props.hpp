// Packed property maps. Records are append-only, so each record's map is written once into
// a shared arena as a compact byte blob and referred to by pointer; copies of the graph
// (snapshots) share the arena instead of copying every map.
//
// Blob: u32 count, then per entry in ascending key-text order:
//   u32 key symbol, u8 kind, payload (bool: 1 byte; int, float: 8 bytes; string: u32 length + bytes).
// An empty map is the null pointer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "core/symbols.hpp"
#include "core/values.hpp"

namespace qm {

// A property value read in place from a blob.
struct ValueView {
    ValueKind kind = ValueKind::Bool;
    bool b = false;
    std::int64_t i = 0;
    double f = 0.0;
    std::string_view s;

    PropertyValue to_value() const;
    bool operator==(const PropertyValue& v) const;
};

class BlobArena {
public:
    BlobArena() = default;
    BlobArena(const BlobArena&) = delete;
    BlobArena& operator=(const BlobArena&) = delete;

    std::byte* allocate(std::size_t size);
    std::size_t bytes_used() const { return used_total_; }

private:
    static constexpr std::size_t kChunkSize = 1 << 20;
    std::vector<std::unique_ptr<std::byte[]>> chunks_;
    std::size_t chunk_used_ = kChunkSize;
    std::size_t used_total_ = 0;
};

using PackedProps = const std::byte*;

// Bytes one entry takes in a blob: key symbol, kind, payload.
inline std::size_t packed_entry_size(ValueKind kind, std::size_t text_size) {
    switch (kind) {
        case ValueKind::Bool: return 5 + 1;
        case ValueKind::Int:
        case ValueKind::Float: return 5 + 8;
        case ValueKind::String: return 5 + 4 + text_size;
    }
    return 5;
}

// The one writer of the blob layout above: sized up front (packed_entry_size per entry),
// then filled entry by entry in key-text order.
class BlobWriter {
public:
    BlobWriter(BlobArena& arena, std::size_t entry_bytes, std::uint32_t count)
        : blob_(arena.allocate(4 + entry_bytes)), p_(blob_) {
        put(count);
    }
    void entry(Symbol key, const ValueView& v) {
        put(key);
        put(static_cast<std::uint8_t>(v.kind));
        switch (v.kind) {
            case ValueKind::Bool: put(static_cast<std::uint8_t>(v.b ? 1 : 0)); break;
            case ValueKind::Int: put(v.i); break;
            case ValueKind::Float: put(v.f); break;
            case ValueKind::String:
                put(static_cast<std::uint32_t>(v.s.size()));
                std::memcpy(p_, v.s.data(), v.s.size());
                p_ += v.s.size();
                break;
        }
    }
    PackedProps blob() const { return blob_; }

private:
    // Fixed-size copies compile to plain stores; only string bytes need a real memcpy.
    template <class T>
    void put(const T& v) {
        std::memcpy(p_, &v, sizeof v);
        p_ += sizeof v;
    }
    std::byte* blob_;
    std::byte* p_;
};

// A value read in place from a PropertyValue (strings are views into it).
ValueView view_of(const PropertyValue& v);
// The canonical text form, as encoded_value gives for the same PropertyValue.
std::string encoded_value(const ValueView& v);

// Interns the keys and writes the map into the arena; null for an empty map.
PackedProps pack_properties(const PropertyMap& map, SymbolTable& symbols, BlobArena& arena);
PropertyMap unpack_properties(PackedProps blob, const SymbolTable& symbols);

template <class F>  // f(Symbol key, const ValueView& value), in key-text order
void for_each_property(PackedProps blob, F&& f) {
    if (!blob) return;
    const std::byte* p = blob;
    auto u32 = [&p] { std::uint32_t v; std::memcpy(&v, p, 4); p += 4; return v; };
    std::uint32_t count = u32();
    for (std::uint32_t n = 0; n < count; ++n) {
        ValueView v;
        Symbol key = u32();
        v.kind = static_cast<ValueKind>(*p++);
        switch (v.kind) {
            case ValueKind::Bool: v.b = *p++ != std::byte{0}; break;
            case ValueKind::Int: std::memcpy(&v.i, p, 8); p += 8; break;
            case ValueKind::Float: std::memcpy(&v.f, p, 8); p += 8; break;
            case ValueKind::String: {
                std::uint32_t len = u32();
                v.s = std::string_view(reinterpret_cast<const char*>(p), len);
                p += len;
                break;
            }
        }
        f(key, v);
    }
}

// The value under one key, if present.
bool find_property(PackedProps blob, Symbol key, ValueView& out);

}  // namespace qm
