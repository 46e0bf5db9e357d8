#include "core/values.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "core/messages.hpp"

namespace qm {

std::string_view type_name(ValueKind kind) {
    switch (kind) {
        case ValueKind::Bool: return "bool";
        case ValueKind::Int: return "int";
        case ValueKind::Float: return "float";
        case ValueKind::String: return "string";
    }
    return "string";
}

std::string format_double(double value) {
    // The shortest round-trip digits come from the scientific form, then are written out
    // positionally; fixed notation would print the exact binary expansion of values such
    // as 1e300 instead of a 1 and zeros.
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
    std::size_t e = sci.find('e');
    if (e == std::string_view::npos) return std::string(sci);  // inf, nan
    std::string_view mantissa = sci.substr(0, e);
    int exponent = std::atoi(std::string(sci.substr(e + 1)).c_str());
    std::string out;
    if (!mantissa.empty() && mantissa[0] == '-') {
        out.push_back('-');
        mantissa.remove_prefix(1);
    }
    std::string digits;
    for (char c : mantissa)
        if (c != '.') digits.push_back(c);
    // digits d0 d1 ... with the decimal point after d0, scaled by 10^exponent.
    int point = 1 + exponent;  // position of the decimal point within digits
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else if (static_cast<std::size_t>(point) >= digits.size()) {
        out += digits;
        out.append(static_cast<std::size_t>(point) - digits.size(), '0');
    } else {
        out.append(digits, 0, static_cast<std::size_t>(point));
        out.push_back('.');
        out.append(digits, static_cast<std::size_t>(point), std::string::npos);
    }
    return out;
}

std::string encoded_value(const PropertyValue& value) {
    switch (kind_of(value)) {
        case ValueKind::Bool: return std::get<bool>(value) ? "true" : "false";
        case ValueKind::Int: return std::to_string(std::get<std::int64_t>(value));
        case ValueKind::Float: return format_double(std::get<double>(value));
        case ValueKind::String: return std::get<std::string>(value);
    }
    return {};
}

namespace {

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != b[i]) return false;
    }
    return true;
}

}  // namespace

std::optional<double> parse_f64(std::string_view text) {
    std::string_view body = text;
    bool negative = false;
    if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
        negative = body[0] == '-';
        body.remove_prefix(1);
    }
    if (iequals(body, "inf") || iequals(body, "infinity")) {
        double inf = std::numeric_limits<double>::infinity();
        return negative ? -inf : inf;
    }
    if (iequals(body, "nan")) return std::numeric_limits<double>::quiet_NaN();
    // Grammar: digits [ "." [digits] ] | "." digits, then optional exponent.
    std::size_t i = 0, n = body.size();
    std::size_t int_digits = 0, frac_digits = 0;
    while (i < n && body[i] >= '0' && body[i] <= '9') ++i, ++int_digits;
    if (i < n && body[i] == '.') {
        ++i;
        while (i < n && body[i] >= '0' && body[i] <= '9') ++i, ++frac_digits;
    }
    if (int_digits + frac_digits == 0) return std::nullopt;
    if (i < n && (body[i] == 'e' || body[i] == 'E')) {
        ++i;
        if (i < n && (body[i] == '+' || body[i] == '-')) ++i;
        std::size_t exp_digits = 0;
        while (i < n && body[i] >= '0' && body[i] <= '9') ++i, ++exp_digits;
        if (exp_digits == 0) return std::nullopt;
    }
    if (i != n) return std::nullopt;
    double value = 0.0;
    auto res = std::from_chars(body.data(), body.data() + n, value, std::chars_format::general);
    if (res.ec == std::errc::result_out_of_range) {
        // from_chars refuses overflow/underflow; the decimal reading rounds to inf or 0.
        value = std::strtod(std::string(body).c_str(), nullptr);
    } else if (res.ec != std::errc() || res.ptr != body.data() + n) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::optional<double> as_f64(const PropertyValue& value) {
    switch (kind_of(value)) {
        case ValueKind::Bool: return std::nullopt;
        case ValueKind::Int: return static_cast<double>(std::get<std::int64_t>(value));
        case ValueKind::Float: return std::get<double>(value);
        case ValueKind::String: return parse_f64(std::get<std::string>(value));
    }
    return std::nullopt;
}

void PropertyMap::set(std::string key, PropertyValue value) {
    // Keys mostly arrive sorted (stored forms, copies): append without searching then.
    if (entries_.empty() || entries_.back().first < key) {
        entries_.emplace_back(std::move(key), std::move(value));
        return;
    }
    auto it = std::lower_bound(entries_.begin(), entries_.end(), key,
                               [](const Entry& e, const std::string& k) { return e.first < k; });
    if (it != entries_.end() && it->first == key) {
        it->second = std::move(value);
    } else {
        entries_.emplace(it, std::move(key), std::move(value));
    }
}

namespace {
constexpr std::size_t kInsertionSortLimit = 32;
}  // namespace

void PropertyMap::finish() {
    if (entries_.size() < 2) return;
    // Stable, so the later of two equal keys stays later. Small maps (the usual case) take
    // an insertion sort that allocates nothing; a large dict must not cost quadratic time.
    auto by_key = [](const Entry& a, const Entry& b) { return a.first < b.first; };
    if (entries_.size() <= kInsertionSortLimit) {
        for (std::size_t i = 1; i < entries_.size(); ++i) {
            for (std::size_t j = i; j > 0 && by_key(entries_[j], entries_[j - 1]); --j)
                std::swap(entries_[j], entries_[j - 1]);
        }
    } else {
        std::stable_sort(entries_.begin(), entries_.end(), by_key);
    }
    // Of equal keys the later one wins, as with set().
    std::size_t out = 0;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (out > 0 && entries_[out - 1].first == entries_[i].first) {
            entries_[out - 1] = std::move(entries_[i]);
        } else {
            if (out != i) entries_[out] = std::move(entries_[i]);
            ++out;
        }
    }
    entries_.resize(out);
}

const PropertyValue* PropertyMap::find(std::string_view key) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), key,
                               [](const Entry& e, std::string_view k) { return e.first < k; });
    if (it != entries_.end() && it->first == key) return &it->second;
    return nullptr;
}

Status validate_properties(const PropertyMap& map) {
    for (const auto& [key, value] : map) {
        if (key.empty()) return fail(std::string(msg::kPropertyKeyEmpty));
        if (kind_of(value) == ValueKind::Float && !std::isfinite(std::get<double>(value))) {
            return fail(msg::property_not_finite(key));
        }
    }
    return ok();
}

}  // namespace qm
