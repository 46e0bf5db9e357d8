// The segment cache beside a database: "<db path>.segments/" holding manifest.txt and
// segment-v1.bin. The cache is advisory: reading never fails, it only yields no segment.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/result.hpp"
#include "core/segment.hpp"

namespace qm {

// The binary form: magic "QMSEG001", node count, then the four arrays as
// (u64 length, u64 values...), all little-endian.
// The form is handed to sink front to back in pieces of bounded size, so a large segment is
// written without a second copy of it in memory; false as soon as sink returns false.
bool write_segment_bytes(const ComputeSegment& segment,
                         const std::function<bool(std::span<const std::uint8_t>)>& sink);
// None when the bytes are malformed or disagree with the expected counts.
std::optional<ComputeSegment> segment_from_bytes(std::span<const std::uint8_t> bytes,
                                                 std::uint64_t node_count, std::uint64_t edge_count);

std::string segment_directory(std::string_view db_path);
std::string segment_manifest_path(std::string_view db_path);

// Writes segment-v1.bin, then manifest.txt.
[[nodiscard]] Status save_segment_files(std::string_view db_path, const ComputeSegment& segment,
                                        std::uint64_t node_count, std::uint64_t edge_count);
std::optional<ComputeSegment> load_segment_files(std::string_view db_path, std::uint64_t node_count,
                                                 std::uint64_t edge_count);

}  // namespace qm
