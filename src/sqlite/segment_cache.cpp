// The binary form of a compute segment. Decoding treats its input as hostile: the file
// beside the database may be truncated, stale, foreign or crafted. Whether a well-formed
// segment also fits the graph is the core's check.
#include "sqlite/segment_cache.hpp"

#include <array>
#include <cstring>
#include <limits>
#include <memory>

namespace qm {

namespace {

constexpr std::array<std::uint8_t, 8> kMagic = {'Q', 'M', 'S', 'E', 'G', '0', '0', '1'};
constexpr std::uint64_t kWord = 8;

// Encodes into a fixed buffer and hands it on whenever it fills.
class ChunkWriter {
public:
    explicit ChunkWriter(const std::function<bool(std::span<const std::uint8_t>)>& sink) : sink_(sink) {}
    bool u64(std::uint64_t v) {
        if (used_ + kWord > kChunk && !flush()) return false;
        for (int i = 0; i < 8; ++i) buffer_[used_++] = static_cast<std::uint8_t>(v >> (8 * i));
        return true;
    }
    bool array(const std::vector<std::uint64_t>& values) {
        if (!u64(values.size())) return false;
        for (std::uint64_t v : values)
            if (!u64(v)) return false;
        return true;
    }
    bool flush() {
        if (used_ == 0) return true;
        bool ok = sink_(std::span<const std::uint8_t>(buffer_.data(), used_));
        used_ = 0;
        return ok;
    }

private:
    static constexpr std::size_t kChunk = 1 << 16;
    const std::function<bool(std::span<const std::uint8_t>)>& sink_;
    std::array<std::uint8_t, kChunk> buffer_;
    std::size_t used_ = 0;
};

// Walks the bytes front to back; every read first checks that the bytes are there.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    std::uint64_t remaining() const { return bytes_.size() - pos_; }

    bool u64(std::uint64_t& out) {
        if (remaining() < kWord) return false;
        out = decode(bytes_.data() + pos_);
        pos_ += kWord;
        return true;
    }

    bool magic() {
        if (remaining() < kMagic.size()) return false;
        bool same = std::memcmp(bytes_.data() + pos_, kMagic.data(), kMagic.size()) == 0;
        pos_ += kMagic.size();
        return same;
    }

    // The declared length is weighed against the bytes actually present before anything
    // is allocated, so a forged length cannot ask for more memory than the file holds.
    bool array(std::vector<std::uint64_t>& out) {
        std::uint64_t length = 0;
        if (!u64(length)) return false;
        if (length > std::numeric_limits<std::uint64_t>::max() / kWord) return false;
        if (length * kWord > remaining()) return false;
        out.resize(static_cast<std::size_t>(length));
        const std::uint8_t* p = bytes_.data() + pos_;
        for (std::uint64_t i = 0; i < length; ++i) out[i] = decode(p + i * kWord);
        pos_ += length * kWord;
        return true;
    }

private:
    static std::uint64_t decode(const std::uint8_t* p) {
        std::uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
        return v;
    }

    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

}  // namespace

bool write_segment_bytes(const ComputeSegment& segment,
                         const std::function<bool(std::span<const std::uint8_t>)>& sink) {
    std::uint64_t magic = 0;
    for (int i = 7; i >= 0; --i) magic = (magic << 8) | kMagic[i];
    auto w = std::make_unique<ChunkWriter>(sink);  // the buffer is too large for the stack
    return w->u64(magic) && w->u64(segment.out_offsets.empty() ? 0 : segment.out_offsets.size() - 1) &&
           w->array(segment.out_offsets) && w->array(segment.out_edges) && w->array(segment.in_offsets) &&
           w->array(segment.in_edges) && w->flush();
}

std::optional<ComputeSegment> segment_from_bytes(std::span<const std::uint8_t> bytes,
                                                 std::uint64_t node_count,
                                                 std::uint64_t edge_count) {
    Reader r(bytes);
    if (!r.magic()) return std::nullopt;
    std::uint64_t declared_nodes = 0;
    if (!r.u64(declared_nodes) || declared_nodes != node_count) return std::nullopt;
    ComputeSegment segment;
    if (!r.array(segment.out_offsets) || !r.array(segment.out_edges) ||
        !r.array(segment.in_offsets) || !r.array(segment.in_edges))
        return std::nullopt;
    if (r.remaining() != 0) return std::nullopt;
    if (!segment.valid_shape(node_count, edge_count)) return std::nullopt;
    return segment;
}

}  // namespace qm
