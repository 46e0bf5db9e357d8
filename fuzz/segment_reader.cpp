// The segment cache file beside a database may be truncated, stale or crafted. The first
// sixteen bytes choose the counts the reader is asked to expect; the rest is the file.
// Whatever it accepts must have a valid shape and write back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <vector>

#include "sqlite/segment_cache.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 16) return 0;
    std::uint64_t counts[2];
    std::memcpy(counts, data, 16);
    // Small counts, so that the reader's own length checks are what the input exercises.
    std::uint64_t nodes = counts[0] % 64, edges = counts[1] % 256;
    std::span<const std::uint8_t> bytes(data + 16, size - 16);
    auto segment = qm::segment_from_bytes(bytes, nodes, edges);
    if (!segment) return 0;
    if (!segment->valid_shape(nodes, edges)) std::abort();
    std::vector<std::uint8_t> written;
    qm::write_segment_bytes(*segment, [&](std::span<const std::uint8_t> chunk) {
        written.insert(written.end(), chunk.begin(), chunk.end());
        return true;
    });
    if (written.size() != bytes.size() || std::memcmp(written.data(), bytes.data(), bytes.size()) != 0)
        std::abort();
    return 0;
}
