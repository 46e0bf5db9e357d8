#include "core/messages.hpp"

namespace qm {

std::string quoted(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    auto hex_escape = [&](unsigned code) {
        out += "\\u{";
        if (code >= 0x10) out.push_back(kHex[code >> 4]);
        out.push_back(kHex[code & 0xf]);
        out.push_back('}');
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        // C1 controls (U+0080..U+009F) are control characters too.
        if (c == 0xc2 && i + 1 < text.size()) {
            unsigned char d = static_cast<unsigned char>(text[i + 1]);
            if (d >= 0x80 && d <= 0x9f) {
                hex_escape(d);
                ++i;
                continue;
            }
        }
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    hex_escape(c);
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
    }
    out.push_back('"');
    return out;
}

namespace msg {

std::string record_not_found(std::string_view kind, std::uint64_t id) {
    std::string out(kind);
    out += ' ';
    out += std::to_string(id);
    out += " not found";
    return out;
}
std::string node_not_found(std::uint64_t id) { return record_not_found("node", id); }
std::string edge_not_found(std::uint64_t id) { return record_not_found("edge", id); }
std::string external_id_exists(std::string_view external_id) {
    return "external_id " + quoted(external_id) + " already exists";
}
std::string node_id_exists(std::uint64_t id) {
    return "node id " + std::to_string(id) + " already exists";
}
std::string edge_id_exists(std::uint64_t id) {
    return "edge id " + std::to_string(id) + " already exists";
}
std::string property_not_finite(std::string_view key) {
    return "property " + quoted(key) + " must be finite";
}

}  // namespace msg
}  // namespace qm
