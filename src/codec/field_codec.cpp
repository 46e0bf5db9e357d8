#include "codec/field_codec.hpp"

#include <charconv>
#include <cmath>

#include "core/messages.hpp"

namespace qm {

// ---------------------------------------------------------------- escaping

void append_escaped(std::string& out, std::string_view text) {
    std::size_t run = 0;  // start of the pending unescaped run
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        const char* rep;
        switch (c) {
            case '\\': rep = "\\\\"; break;
            case '\t': rep = "\\t"; break;
            case '\n': rep = "\\n"; break;
            case '\r': rep = "\\r"; break;
            default: continue;
        }
        out.append(text.data() + run, i - run);
        out.append(rep, 2);
        run = i + 1;
    }
    out.append(text.data() + run, text.size() - run);
}

std::string escape_field(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    append_escaped(out, text);
    return out;
}

std::string unescape_field(std::string_view text) {
    std::size_t first = text.find('\\');
    if (first == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size());
    out.append(text.data(), first);
    for (std::size_t i = first; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\\' || i + 1 == text.size()) {
            out.push_back(c);
            continue;
        }
        char next = text[i + 1];
        switch (next) {
            case '\\': out.push_back('\\'); break;
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            default:
                out.push_back('\\');
                out.push_back(next);
        }
        ++i;
    }
    return out;
}

// ---------------------------------------------------------------- string lists

std::string encode_list(std::span<const std::string> items) {
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out.push_back('\n');
        append_escaped(out, items[i]);
    }
    return out;
}

std::vector<std::string> decode_list(std::string_view text) {
    std::vector<std::string> out;
    for_each_line(text, [&](std::string_view line) {
        out.push_back(unescape_field(line));
        return true;
    });
    return out;
}

// ---------------------------------------------------------------- property maps

void append_encoded_entry(std::string& out, std::string_view key, const ValueView& value) {
    append_escaped(out, key);
    out.push_back('\t');
    out.append(type_name(value.kind));
    out.push_back('\t');
    if (value.kind == ValueKind::String) {
        append_escaped(out, value.s);
    } else {
        out.append(encoded_value(value));  // no character of it needs escaping
    }
}

void append_encoded_map(std::string& out, const PropertyMap& map) {
    bool first = true;
    for (const auto& [key, value] : map) {
        if (!first) out.push_back('\n');
        first = false;
        append_encoded_entry(out, key, view_of(value));
    }
}

std::string encode_map(const PropertyMap& map) {
    std::string out;
    append_encoded_map(out, map);
    return out;
}

namespace {

// Optional single sign, then one or more ASCII digits, nothing else.
std::optional<std::int64_t> parse_i64(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        i = 1;
    }
    if (i == text.size()) return std::nullopt;
    for (std::size_t j = i; j < text.size(); ++j)
        if (text[j] < '0' || text[j] > '9') return std::nullopt;
    std::uint64_t magnitude = 0;
    auto res = std::from_chars(text.data() + i, text.data() + text.size(), magnitude);
    if (res.ec != std::errc()) return std::nullopt;
    constexpr std::uint64_t kMaxPositive = 9223372036854775807ull;
    if (negative) {
        if (magnitude > kMaxPositive + 1) return std::nullopt;
        return static_cast<std::int64_t>(0 - magnitude);
    }
    if (magnitude > kMaxPositive) return std::nullopt;
    return static_cast<std::int64_t>(magnitude);
}

// Optional single "+", then one or more ASCII digits.
std::optional<std::uint64_t> parse_u64(std::string_view text) {
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    for (char c : text)
        if (c < '0' || c > '9') return std::nullopt;
    std::uint64_t value = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    if (res.ec != std::errc()) return std::nullopt;
    return value;
}

Result<PropertyValue> decode_typed_value(std::string_view tag, std::string value_text) {
    if (tag == "string") return PropertyValue(std::move(value_text));
    if (tag == "int") {
        auto v = parse_i64(value_text);
        if (!v) return fail(msg::invalid_property_value("int", value_text));
        return PropertyValue(*v);
    }
    if (tag == "float") {
        auto v = parse_f64(value_text);
        if (!v) return fail(msg::invalid_property_value("float", value_text));
        if (!std::isfinite(*v)) return fail(msg::stored_float_not_finite(value_text));
        return PropertyValue(*v);
    }
    if (tag == "bool") {
        if (value_text == "true") return PropertyValue(true);
        if (value_text == "false") return PropertyValue(false);
        return fail(msg::invalid_property_value("bool", value_text));
    }
    return fail(msg::unknown_value_type(tag));
}

}  // namespace

Result<PropertyMap> decode_map(std::string_view text) {
    PropertyMap map;
    std::string error;
    for_each_line(text, [&](std::string_view line) {
        std::size_t tab1 = line.find('\t');
        if (tab1 == std::string_view::npos) {
            error = msg::invalid_encoded("property line", line);
            return false;
        }
        std::string key = unescape_field(line.substr(0, tab1));
        std::string_view rest = line.substr(tab1 + 1);
        std::size_t tab2 = rest.find('\t');
        if (tab2 == std::string_view::npos) {
            map.set(std::move(key), PropertyValue(unescape_field(rest)));
            return true;
        }
        auto value = decode_typed_value(rest.substr(0, tab2), unescape_field(rest.substr(tab2 + 1)));
        if (!value) {
            error = std::move(value.error());
            return false;
        }
        map.set(std::move(key), std::move(*value));
        return true;
    });
    if (!error.empty()) return fail(std::move(error));
    return map;
}

// ---------------------------------------------------------------- numeric lists

std::string encode_u64_list(std::span<const std::uint64_t> values) {
    std::string out;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i) out.push_back(',');
        out.append(std::to_string(values[i]));
    }
    return out;
}

namespace {

template <class F>
bool for_each_piece(std::string_view text, F&& f) {
    if (text.empty()) return true;
    std::size_t start = 0;
    for (;;) {
        std::size_t comma = text.find(',', start);
        std::size_t end = comma == std::string_view::npos ? text.size() : comma;
        if (!f(text.substr(start, end - start))) return false;
        if (comma == std::string_view::npos) return true;
        start = comma + 1;
    }
}

}  // namespace

Result<std::vector<std::uint64_t>> decode_u64_list(std::string_view text) {
    std::vector<std::uint64_t> out;
    std::string error;
    for_each_piece(text, [&](std::string_view piece) {
        auto v = parse_u64(piece);
        if (!v) {
            error = msg::invalid_encoded("u64 value", piece);
            return false;
        }
        out.push_back(*v);
        return true;
    });
    if (!error.empty()) return fail(std::move(error));
    return out;
}

std::string encode_f64_list(std::span<const double> values) {
    std::string out;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i) out.push_back(',');
        out.append(format_double(values[i]));
    }
    return out;
}

Result<std::vector<double>> decode_f64_list(std::string_view text) {
    std::vector<double> out;
    std::string error;
    for_each_piece(text, [&](std::string_view piece) {
        auto v = parse_f64(piece);
        if (!v) {
            error = msg::invalid_encoded("f64 value", piece);
            return false;
        }
        if (!std::isfinite(*v)) {
            error = msg::encoded_f64_not_finite(piece);
            return false;
        }
        out.push_back(*v);
        return true;
    });
    if (!error.empty()) return fail(std::move(error));
    return out;
}

}  // namespace qm
