// The binary form of a compute segment and the checks a cached segment must pass before
// the graph trusts it. Everything here treats its input as hostile: the file beside the
// database may be truncated, stale, foreign or crafted.
#include "sqlite/segment_cache.hpp"

#include <array>
#include <cstring>
#include <limits>

#include "core/graph.hpp"

namespace qm {

namespace {

constexpr std::array<std::uint8_t, 8> kMagic = {'Q', 'M', 'S', 'E', 'G', '0', '0', '1'};
constexpr std::uint64_t kWord = 8;

// Writes into a buffer sized up front, so encoding never reallocates.
class Writer {
public:
    explicit Writer(std::vector<std::uint8_t>& out) : out_(out) {}
    void u64(std::uint64_t v) {
        for (int i = 0; i < 8; ++i) out_[pos_++] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    void array(const std::vector<std::uint64_t>& values) {
        u64(values.size());
        for (std::uint64_t v : values) u64(v);
    }

private:
    std::vector<std::uint8_t>& out_;
    std::size_t pos_ = 0;
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

bool valid_side(const std::vector<std::uint64_t>& offsets, std::size_t edge_len,
                std::uint64_t node_count) {
    if (offsets.empty() || offsets.size() - 1 != node_count) return false;
    if (offsets.front() != 0 || offsets.back() != edge_len) return false;
    for (std::size_t i = 1; i < offsets.size(); ++i)
        if (offsets[i] < offsets[i - 1]) return false;
    return true;
}

// Every id under node v must be a live edge whose endpoint on this side is v, strictly
// ascending. With the slice bounds checked first, this never reads outside the arrays.
bool side_matches(const GraphCore& graph, const std::vector<std::uint64_t>& offsets,
                  const std::vector<std::uint64_t>& ids, bool outgoing) {
    if (!valid_side(offsets, ids.size(), graph.nodes.size())) return false;
    if (ids.size() != graph.edge_count()) return false;
    for (std::size_t v = 0; v + 1 < offsets.size(); ++v) {
        bool first = true;
        std::uint64_t previous = 0;
        for (std::uint64_t i = offsets[v]; i < offsets[v + 1]; ++i) {
            std::uint64_t id = ids[i];
            if (!graph.edge_exists(id)) return false;
            const EdgeSlot& e = graph.edges[id];
            if ((outgoing ? e.source : e.target) != v) return false;
            if (!first && id <= previous) return false;
            first = false;
            previous = id;
        }
    }
    return true;
}

}  // namespace

std::vector<std::uint8_t> segment_to_bytes(const ComputeSegment& segment) {
    std::size_t words = 6 + segment.out_offsets.size() + segment.out_edges.size() +
                        segment.in_offsets.size() + segment.in_edges.size();
    std::vector<std::uint8_t> out(words * kWord);
    std::uint64_t magic = 0;
    for (int i = 7; i >= 0; --i) magic = (magic << 8) | kMagic[i];
    Writer w(out);
    w.u64(magic);
    w.u64(segment.out_offsets.empty() ? 0 : segment.out_offsets.size() - 1);
    w.array(segment.out_offsets);
    w.array(segment.out_edges);
    w.array(segment.in_offsets);
    w.array(segment.in_edges);
    return out;
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
    if (!validate_segment(segment, node_count, edge_count)) return std::nullopt;
    return segment;
}

bool validate_segment(const ComputeSegment& segment, std::uint64_t node_count,
                      std::uint64_t edge_count) {
    return valid_side(segment.out_offsets, segment.out_edges.size(), node_count) &&
           valid_side(segment.in_offsets, segment.in_edges.size(), node_count) &&
           segment.out_edges.size() == edge_count && segment.in_edges.size() == edge_count;
}

bool segment_matches_graph(const GraphCore& graph, const ComputeSegment& segment) {
    return side_matches(graph, segment.out_offsets, segment.out_edges, true) &&
           side_matches(graph, segment.in_offsets, segment.in_edges, false);
}

}  // namespace qm
