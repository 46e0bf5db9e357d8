// Stored field texts come from files anyone can write: every decoder must refuse or accept
// any bytes without crashing, and what it accepts must encode back to a text it decodes the
// same way.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "codec/field_codec.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    if (auto map = qm::decode_map(text)) {
        auto again = qm::decode_map(qm::encode_map(*map));
        if (!again || qm::encode_map(*again) != qm::encode_map(*map)) std::abort();
    }
    // The list form has no way to write a trailing empty item: its line feed reads as the
    // end of the text. Writers refuse empty labels, so that one item is all that may drop.
    auto list = qm::decode_list(text);
    auto kept = list;
    if (!kept.empty() && kept.back().empty()) kept.pop_back();
    if (qm::decode_list(qm::encode_list(list)) != kept) std::abort();
    if (auto ids = qm::decode_u64_list(text)) {
        auto again = qm::decode_u64_list(qm::encode_u64_list(*ids));
        if (!again || *again != *ids) std::abort();
    }
    if (auto values = qm::decode_f64_list(text)) {
        auto again = qm::decode_f64_list(qm::encode_f64_list(*values));
        if (!again || *again != *values) std::abort();
    }
    (void)qm::unescape_field(text);
    return 0;
}
