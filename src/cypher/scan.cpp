#include "cypher/scan.hpp"

#include <cstdint>

#include "cypher/messages.hpp"

namespace qm::cypher {

namespace {

// Quote and nesting state while walking a text. Closers without openers drive a depth
// below zero, after which nothing is top level until it climbs back.
struct ScanState {
    int parens = 0, brackets = 0, braces = 0;
    char quote = 0;
    bool escaped = false;

    void update(char c) {
        if (quote) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == quote) quote = 0;
            return;
        }
        switch (c) {
            case '\'': case '"': quote = c; break;
            case '(': ++parens; break;
            case ')': --parens; break;
            case '[': ++brackets; break;
            case ']': --brackets; break;
            case '{': ++braces; break;
            case '}': --braces; break;
            default: break;
        }
    }
    bool top() const { return parens == 0 && brackets == 0 && braces == 0 && !quote && !escaped; }
};

bool is_unicode_space(std::uint32_t cp) {
    return (cp >= 0x09 && cp <= 0x0d) || cp == 0x20 || cp == 0x85 || cp == 0xa0 || cp == 0x1680 ||
           (cp >= 0x2000 && cp <= 0x200a) || cp == 0x2028 || cp == 0x2029 || cp == 0x202f ||
           cp == 0x205f || cp == 0x3000;
}

// Byte length of the whitespace character starting at pos, or 0.
std::size_t space_at(std::string_view t, Pos pos) {
    auto b = static_cast<unsigned char>(t[pos]);
    if (b < 0x80) return is_unicode_space(b) ? 1 : 0;
    if (b == 0xc2 && pos + 1 < t.size()) {
        auto c = static_cast<unsigned char>(t[pos + 1]);
        return (c == 0x85 || c == 0xa0) ? 2 : 0;
    }
    if ((b == 0xe1 || b == 0xe2 || b == 0xe3) && pos + 2 < t.size()) {
        std::uint32_t cp = ((b & 0x0fu) << 12) | ((static_cast<unsigned char>(t[pos + 1]) & 0x3fu) << 6) |
                           (static_cast<unsigned char>(t[pos + 2]) & 0x3fu);
        return is_unicode_space(cp) ? 3 : 0;
    }
    return 0;
}

// Byte length of the whitespace character ending just before end, or 0.
std::size_t space_before(std::string_view t, Pos end) {
    if (end == 0) return 0;
    auto b = static_cast<unsigned char>(t[end - 1]);
    if (b < 0x80) return is_unicode_space(b) ? 1 : 0;
    if (end >= 2 && space_at(t, end - 2) == 2) return 2;
    if (end >= 3 && space_at(t, end - 3) == 3) return 3;
    return 0;
}

}  // namespace

std::string_view trim_start(std::string_view t) {
    Pos p = 0;
    while (p < t.size()) {
        std::size_t n = space_at(t, p);
        if (!n) break;
        p += n;
    }
    return t.substr(p);
}

std::string_view trim_end(std::string_view t) {
    Pos e = t.size();
    while (std::size_t n = space_before(t, e)) e -= n;
    return t.substr(0, e);
}

std::string_view trim(std::string_view t) { return trim_end(trim_start(t)); }

bool starts_with_nocase(std::string_view text, std::string_view word, Pos pos) {
    if (pos > text.size() || text.size() - pos < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (ascii_upper(text[pos + i]) != ascii_upper(word[i])) return false;
    return true;
}

bool equals_nocase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && starts_with_nocase(a, b, 0);
}

void split_top_level(std::string_view text, std::vector<std::string_view>& out) {
    ScanState s;
    Pos begin = 0;
    for (Pos p = 0; p < text.size(); ++p) {
        char c = text[p];
        if (c == ',' && s.top()) {
            out.push_back(trim(text.substr(begin, p - begin)));
            begin = p + 1;
            continue;
        }
        s.update(c);
    }
    out.push_back(trim(text.substr(begin)));
}

std::vector<std::string_view> split_top_level(std::string_view text) {
    std::vector<std::string_view> out;
    split_top_level(text, out);
    return out;
}

std::optional<Pos> find_char_top_level(std::string_view text, char ch) {
    ScanState s;
    for (Pos p = 0; p < text.size(); ++p) {
        if (s.top() && text[p] == ch) return p;
        s.update(text[p]);
    }
    return std::nullopt;
}

std::optional<Pos> find_text_top_level(std::string_view text, std::string_view op) {
    ScanState s;
    for (Pos p = 0; p < text.size(); ++p) {
        s.update(text[p]);
        if (s.top() && text.substr(p, op.size()) == op) return p;
    }
    return std::nullopt;
}

std::optional<Pos> find_keyword_top_level_from(std::string_view text, std::string_view keyword, Pos start) {
    ScanState s;
    for (Pos p = start; p < text.size() && text.size() - p >= keyword.size(); ++p) {
        s.update(text[p]);
        if (!s.top() || !starts_with_nocase(text, keyword, p)) continue;
        if (p > 0 && is_ident_char(text[p - 1])) continue;
        Pos after = p + keyword.size();
        if (after < text.size() && is_ident_char(text[after])) continue;
        return p;
    }
    return std::nullopt;
}

std::vector<std::string_view> split_keyword_top_level(std::string_view text, std::string_view keyword) {
    std::vector<std::string_view> out;
    Pos begin = 0;
    while (auto at = find_keyword_top_level_from(text, keyword, begin)) {
        out.push_back(trim(text.substr(begin, *at - begin)));
        begin = *at + keyword.size();
    }
    out.push_back(trim(text.substr(begin)));
    return out;
}

std::optional<Pos> next_clause_index(std::string_view text, Pos start, std::string_view k1, std::string_view k2) {
    auto a = find_keyword_top_level_from(text, k1, start);
    auto b = find_keyword_top_level_from(text, k2, start);
    if (a && b) return std::min(*a, *b);
    return a ? a : b;
}

Result<Pos> matching_delimiter(std::string_view text, Pos at, char open, char close) {
    int depth = 0;
    char quote = 0;
    bool escaped = false;
    for (Pos p = at; p < text.size(); ++p) {
        char c = text[p];
        if (quote) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == quote) quote = 0;
            continue;
        }
        if (c == '\'' || c == '"') quote = c;
        else if (c == open) ++depth;
        else if (c == close && --depth == 0) return p;
    }
    return fail(msg::unclosed_delimiter(open));
}

std::string_view trim_last_word(std::string_view text) {
    std::string_view t = trim_end(text);
    for (Pos e = t.size(); e > 0;) {
        if (std::size_t n = space_before(t, e)) return trim_end(t.substr(0, e - n));
        // Step back over one UTF-8 character.
        do --e; while (e > 0 && (static_cast<unsigned char>(t[e]) & 0xc0) == 0x80);
    }
    return {};
}

Result<std::string> unquote(std::string_view text) {
    if (text.size() < 2 || (text[0] != '\'' && text[0] != '"') || text.back() != text[0])
        return fail(msg::expected_quoted_string(text));
    std::string_view in = text.substr(1, text.size() - 2);
    std::string out;
    out.reserve(in.size());
    for (Pos p = 0; p < in.size(); ++p) {
        char c = in[p];
        if (c != '\\') {
            out.push_back(c);
            continue;
        }
        if (++p == in.size()) return fail(std::string(msg::kUnterminatedEscape));
        switch (in[p]) {
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            default: out.push_back(in[p]); break;
        }
    }
    return out;
}

Result<std::string> parse_identifier(std::string_view text) {
    std::string_view t = trim(text);
    if (t.empty()) return fail(std::string(msg::kIdentifierEmpty));
    if (t.size() >= 2 && t[0] == '`') {
        if (t.back() == '`') return std::string(t.substr(1, t.size() - 2));
        return fail(msg::invalid_identifier(t));
    }
    bool ok = (t[0] >= 'a' && t[0] <= 'z') || (t[0] >= 'A' && t[0] <= 'Z') || t[0] == '_';
    for (std::size_t i = 1; ok && i < t.size(); ++i) ok = is_ident_char(t[i]);
    if (!ok) return fail(msg::invalid_identifier(t));
    return std::string(t);
}

Result<std::string> parse_property_key(std::string_view text) {
    if (text.size() >= 2 && (text[0] == '\'' || text[0] == '"') && text.back() == text[0]) return unquote(text);
    return parse_identifier(text);
}

}  // namespace qm::cypher
