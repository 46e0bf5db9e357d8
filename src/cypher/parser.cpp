#include "cypher/parser.hpp"

#include <charconv>
#include <limits>

#include "core/values.hpp"
#include "cypher/messages.hpp"

namespace qm::cypher {

bool Query::writes() const {
    if (kind == QueryKind::Create || kind == QueryKind::Merge) return true;
    for (const Query& part : parts)
        if (part.writes()) return true;
    return false;
}

namespace {

Pos skip_pattern_space(std::string_view t, Pos p) {
    while (p < t.size() && is_pattern_space(t[p])) ++p;
    return p;
}

// The keyword stands at the start of text and is not followed by an identifier character.
bool clause_at(std::string_view text, std::string_view keyword) {
    return starts_with_nocase(text, keyword) && (text.size() == keyword.size() || !is_ident_char(text[keyword.size()]));
}

bool ends_with_word(std::string_view piece, std::string_view word) {
    if (piece.size() < word.size() || !starts_with_nocase(piece, word, piece.size() - word.size())) return false;
    return piece.size() == word.size() || !is_ident_char(piece[piece.size() - word.size() - 1]);
}

// An optional '+' and one or more digits that fit 64 unsigned bits.
std::optional<std::uint64_t> parse_count(std::string_view t) {
    if (!t.empty() && t[0] == '+') t.remove_prefix(1);
    if (t.empty()) return std::nullopt;
    for (char c : t)
        if (c < '0' || c > '9') return std::nullopt;
    std::uint64_t v = 0;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
    return v;
}

std::optional<std::int64_t> parse_int(std::string_view t) {
    bool negative = false;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        negative = t[0] == '-';
        t.remove_prefix(1);
    }
    if (t.empty()) return std::nullopt;
    for (char c : t)
        if (c < '0' || c > '9') return std::nullopt;
    // Parse the magnitude unsigned so the most negative value fits.
    std::uint64_t mag = 0;
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), mag);
    if (ec != std::errc() || end != t.data() + t.size()) return std::nullopt;
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (negative) {
        if (mag > kMax + 1) return std::nullopt;
        return static_cast<std::int64_t>(0 - mag);
    }
    if (mag > kMax) return std::nullopt;
    return static_cast<std::int64_t>(mag);
}

// A quoted text is one string literal only when no unescaped quote of its kind sits
// inside: 'a' + 'b' is two literals and an operator, not the text a' + 'b.
bool is_one_string_literal(std::string_view t) {
    if (t.size() < 2 || (t[0] != '\'' && t[0] != '"') || t.back() != t[0]) return false;
    bool escaped = false;
    for (Pos p = 1; p + 1 < t.size(); ++p) {
        if (escaped) escaped = false;
        else if (t[p] == '\\') escaped = true;
        else if (t[p] == t[0]) return false;
    }
    return true;
}

Expr make_expr(ExprKind kind, std::string name = {}) {
    Expr e;
    e.kind = kind;
    e.name = std::move(name);
    return e;
}

struct FunctionForm {
    std::string_view name;
    ExprKind kind;
};
constexpr FunctionForm kFunctions[] = {
    {"id", ExprKind::Id},           {"elementId", ExprKind::ElementId}, {"labels", ExprKind::Labels},
    {"type", ExprKind::Type},       {"startNode", ExprKind::StartNode}, {"endNode", ExprKind::EndNode},
    {"count", ExprKind::Count},
};

class Parser {
public:
    Result<Query> query(std::string_view text);
    Result<Pattern> pattern(std::string_view text);
    Result<std::pair<NodePattern, Pos>> node_at(std::string_view text, Pos position);
    Result<Predicate> predicate(std::string_view text);
    Result<Projection> projection(std::string_view text);
    Result<ReturnItem> return_item(std::string_view text);
    Result<Expr> expr(std::string_view text);

private:
    Result<std::pair<std::string_view, PropertyEntries>> pattern_properties(std::string_view text);
    Result<OrderItem> order_item(std::string_view piece);
    Status match_body(std::string_view rest, Query& q);
    Status write_body(std::string_view rest, Query& q);

    // The one place nesting is counted.
    Status enter() {
        if (++depth_ > kMaxNesting) return fail(msg::nested_too_deeply(kMaxNesting));
        return ok();
    }
    void leave() { --depth_; }

    std::size_t depth_ = 0;
};

// query := [UNION-separated statements] ; MATCH | OPTIONAL MATCH | CREATE | MERGE | RETURN
Result<Query> Parser::query(std::string_view text) {
    std::string_view t = trim(text);
    while (!t.empty() && t.back() == ';') t.remove_suffix(1);
    t = trim(t);
    if (t.empty()) return fail(std::string(msg::kEmptyQuery));
    auto pieces = split_keyword_top_level(t, "UNION");
    if (pieces.size() >= 2) {
        Query u;
        u.kind = QueryKind::Union;
        u.parts.reserve(pieces.size());
        for (std::string_view piece : pieces) {
            QM_TRY(part, query(piece));
            u.parts.push_back(std::move(part));
        }
        return u;
    }
    Query q;
    if (starts_with_nocase(t, "OPTIONAL MATCH ")) {
        q.kind = QueryKind::Match;
        q.optional = true;
        QM_CHECK(match_body(t.substr(14), q));
    } else if (starts_with_nocase(t, "MATCH ")) {
        q.kind = QueryKind::Match;
        QM_CHECK(match_body(t.substr(5), q));
    } else if (starts_with_nocase(t, "CREATE ")) {
        q.kind = QueryKind::Create;
        QM_CHECK(write_body(t.substr(6), q));
    } else if (starts_with_nocase(t, "MERGE ")) {
        q.kind = QueryKind::Merge;
        QM_CHECK(write_body(t.substr(5), q));
    } else if (starts_with_nocase(t, "RETURN ")) {
        q.kind = QueryKind::Return;
        QM_TRY(proj, projection(t.substr(6)));
        q.projection = std::move(proj);
    } else {
        return fail(std::string(msg::kUnsupportedStatement));
    }
    return q;
}

// match_body := pattern [WHERE predicate {AND predicate}] RETURN projection
// Errors surface in the order predicates, pattern, projection.
Status Parser::match_body(std::string_view rest, Query& q) {
    rest = trim(rest);
    auto ret = find_keyword_top_level_from(rest, "RETURN", 0);
    if (!ret) return fail(std::string(msg::kMatchNeedsReturn));
    std::string_view head = trim(rest.substr(0, *ret));
    std::string_view tail = trim(rest.substr(*ret + 6));
    std::string_view pattern_text = head;
    if (auto where = find_keyword_top_level_from(head, "WHERE", 0)) {
        pattern_text = trim(head.substr(0, *where));
        for (std::string_view piece : split_keyword_top_level(trim(head.substr(*where + 5)), "AND")) {
            QM_TRY(p, predicate(piece));
            q.predicates.push_back(std::move(p));
        }
    }
    QM_TRY(pat, pattern(pattern_text));
    q.pattern = std::move(pat);
    QM_TRY(proj, projection(tail));
    q.projection = std::move(proj);
    return ok();
}

// write_body := pattern [RETURN projection]; the projection is parsed first.
Status Parser::write_body(std::string_view rest, Query& q) {
    rest = trim(rest);
    std::string_view pattern_text = rest;
    if (auto ret = find_keyword_top_level_from(rest, "RETURN", 0)) {
        pattern_text = trim(rest.substr(0, *ret));
        QM_TRY(proj, projection(trim(rest.substr(*ret + 6))));
        q.projection = std::move(proj);
    }
    QM_TRY(pat, pattern(pattern_text));
    q.pattern = std::move(pat);
    return ok();
}

// pattern := node { ('-' | '<-') '[' rel ']' ('-' | '->') node }
Result<Pattern> Parser::pattern(std::string_view text) {
    std::string_view t = trim(text);
    Pattern out;
    QM_TRY(first, node_at(t, 0));
    out.nodes.push_back(std::move(first.first));
    Pos pos = first.second;
    while (pos < t.size()) {
        pos = skip_pattern_space(t, pos);
        bool incoming = false;
        if (t.substr(pos, 2) == "<-") {
            incoming = true;
            pos += 2;
        } else if (pos < t.size() && t[pos] == '-') {
            pos += 1;
        } else {
            return fail(msg::expected_relationship(t.substr(pos)));
        }
        pos = skip_pattern_space(t, pos);
        if (pos >= t.size() || t[pos] != '[') return fail(msg::expected_bracket(t.substr(pos)));
        QM_TRY(close, matching_delimiter(t, pos, '[', ']'));
        std::string_view body = trim(t.substr(pos + 1, close - pos - 1));
        pos = skip_pattern_space(t, close + 1);
        bool outgoing = false;
        if (t.substr(pos, 2) == "->") {
            outgoing = true;
            pos += 2;
        } else if (pos < t.size() && t[pos] == '-') {
            pos += 1;
        } else {
            return fail(msg::relationship_end(t.substr(pos)));
        }
        if (incoming && outgoing) return fail(std::string(msg::kBothArrows));
        if (out.relationships.size() >= kMaxRelationships) return fail(msg::pattern_too_long(kMaxRelationships));
        RelPattern rel;
        rel.direction = outgoing ? RelDirection::Outgoing : incoming ? RelDirection::Incoming : RelDirection::Undirected;
        QM_TRY(split, pattern_properties(body));
        rel.properties = std::move(split.second);
        std::string_view head = split.first;
        if (!head.empty()) {
            auto colon = head.find(':');
            if (colon == std::string_view::npos) {
                QM_TRY(var, parse_identifier(head));
                rel.variable = std::move(var);
            } else {
                std::string_view var_text = trim(head.substr(0, colon));
                std::string_view type_text = trim(head.substr(colon + 1));
                if (!var_text.empty()) {
                    QM_TRY(var, parse_identifier(var_text));
                    rel.variable = std::move(var);
                }
                if (!type_text.empty()) {
                    if (type_text.find('|') != std::string_view::npos)
                        return fail(std::string(msg::kMultipleTypes));
                    QM_TRY(type, parse_identifier(type_text));
                    rel.rel_type = std::move(type);
                }
            }
        }
        out.relationships.push_back(std::move(rel));
        QM_TRY(next, node_at(t, pos));
        out.nodes.push_back(std::move(next.first));
        pos = next.second;
    }
    return out;
}

// node := '(' [variable] {':' label} [property_map] ')'
Result<std::pair<NodePattern, Pos>> Parser::node_at(std::string_view text, Pos position) {
    Pos pos = skip_pattern_space(text, position);
    if (pos >= text.size() || text[pos] != '(') return fail(msg::expected_node(text.substr(pos)));
    QM_TRY(close, matching_delimiter(text, pos, '(', ')'));
    QM_TRY(split, pattern_properties(trim(text.substr(pos + 1, close - pos - 1))));
    NodePattern node;
    node.properties = std::move(split.second);
    std::string_view head = split.first;
    auto colon = head.find(':');
    if (!head.empty() && head[0] != ':') {
        QM_TRY(var, parse_identifier(head.substr(0, colon)));
        node.variable = std::move(var);
    }
    if (colon != std::string_view::npos) {
        std::string_view rest = head.substr(colon);
        while (true) {
            rest = trim_start(rest);
            if (rest.empty()) break;
            if (rest[0] != ':') return fail(msg::node_content(rest));
            std::size_t n = 1;
            while (n < rest.size() && is_ident_char(rest[n])) ++n;
            QM_TRY(label, parse_identifier(rest.substr(1, n - 1)));
            node.labels.push_back(std::move(label));
            rest.remove_prefix(n);
        }
    }
    return std::pair<NodePattern, Pos>(std::move(node), close + 1);
}

// property_map := head '{' [key ':' expr {',' key ':' expr}] '}'
Result<std::pair<std::string_view, PropertyEntries>> Parser::pattern_properties(std::string_view text) {
    std::pair<std::string_view, PropertyEntries> out;
    auto brace = find_char_top_level(text, '{');
    if (!brace) {
        out.first = trim(text);
        return out;
    }
    QM_TRY(close, matching_delimiter(text, *brace, '{', '}'));
    if (!trim(text.substr(close + 1)).empty()) return fail(std::string(msg::kContentAfterPropertyMap));
    out.first = trim(text.substr(0, *brace));
    std::string_view inside = text.substr(*brace + 1, close - *brace - 1);
    if (trim(inside).empty()) return out;
    for (std::string_view entry : split_top_level(inside)) {
        auto colon = find_char_top_level(entry, ':');
        if (!colon) return fail(msg::property_entry_requires_colon(entry));
        QM_TRY(key, parse_property_key(trim(entry.substr(0, *colon))));
        QM_TRY(value, expr(entry.substr(*colon + 1)));
        out.second.emplace_back(std::move(key), std::move(value));
    }
    return out;
}

// predicate := expr op expr; operators tried in a fixed order, the first present wins.
Result<Predicate> Parser::predicate(std::string_view text) {
    struct Op {
        std::string_view text;
        PredicateOp op;
        bool keyword;
    };
    static constexpr Op kOps[] = {
        {"CONTAINS", PredicateOp::Contains, true}, {"IN", PredicateOp::In, true},
        {">=", PredicateOp::Gte, false},           {"<=", PredicateOp::Lte, false},
        {"<>", PredicateOp::Ne, false},            {"!=", PredicateOp::Ne, false},
        {"=", PredicateOp::Eq, false},             {">", PredicateOp::Gt, false},
        {"<", PredicateOp::Lt, false},
    };
    for (const Op& op : kOps) {
        auto at = op.keyword ? find_keyword_top_level_from(text, op.text, 0) : find_text_top_level(text, op.text);
        if (!at) continue;
        Predicate p;
        p.op = op.op;
        QM_TRY(left, expr(text.substr(0, *at)));
        QM_TRY(right, expr(text.substr(*at + op.text.size())));
        p.left = std::move(left);
        p.right = std::move(right);
        return p;
    }
    return fail(msg::unsupported_predicate(text));
}

// projection := item {',' item} {ORDER BY order {',' order} | SKIP n | LIMIT n}
Result<Projection> Parser::projection(std::string_view text) {
    std::string_view t = trim(text);
    if (t.empty()) return fail(std::string(msg::kEmptyReturn));
    Projection proj;
    Pos items_end = t.size();
    for (std::string_view kw : {std::string_view("ORDER BY"), std::string_view("SKIP"), std::string_view("LIMIT")})
        if (auto at = find_keyword_top_level_from(t, kw, 0)) items_end = std::min(items_end, *at);
    std::vector<std::string_view> pieces;
    split_top_level(t.substr(0, items_end), pieces);
    proj.items.reserve(pieces.size());
    for (std::string_view piece : pieces) {
        QM_TRY(item, return_item(piece));
        proj.items.push_back(std::move(item));
    }
    Pos pos = items_end;
    while (true) {
        std::string_view rest = trim_start(t.substr(pos));
        pos = t.size() - rest.size();
        if (rest.empty()) break;
        if (clause_at(rest, "ORDER BY")) {
            Pos start = pos + 8;
            Pos end = next_clause_index(t, start, "SKIP", "LIMIT").value_or(t.size());
            proj.order_by.clear();
            for (std::string_view piece : split_top_level(t.substr(start, end - start))) {
                QM_TRY(item, order_item(piece));
                proj.order_by.push_back(std::move(item));
            }
            pos = end;
        } else if (clause_at(rest, "SKIP") || clause_at(rest, "LIMIT")) {
            bool skip = clause_at(rest, "SKIP");
            Pos start = pos + (skip ? 4 : 5);
            Pos end = (skip ? next_clause_index(t, start, "ORDER BY", "LIMIT")
                            : next_clause_index(t, start, "ORDER BY", "SKIP"))
                          .value_or(t.size());
            auto n = parse_count(trim(t.substr(start, end - start)));
            if (!n) return fail(msg::needs_integer_literal(skip ? "SKIP" : "LIMIT"));
            (skip ? proj.skip : proj.limit) = *n;
            pos = end;
        } else {
            return fail(msg::unsupported_return_tail(rest));
        }
    }
    return proj;
}

// order := expr [ASC | ASCENDING | DESC | DESCENDING]
Result<OrderItem> Parser::order_item(std::string_view piece) {
    std::string_view p = trim(piece);
    OrderItem item;
    bool has_word = false;
    if (ends_with_word(p, "desc") || ends_with_word(p, "descending")) {
        item.descending = true;
        has_word = true;
    } else if (ends_with_word(p, "asc") || ends_with_word(p, "ascending")) {
        has_word = true;
    }
    QM_TRY(e, expr(has_word ? trim_last_word(p) : p));
    item.expr = std::move(e);
    return item;
}

// item := expr [AS identifier]; without AS the column is the item's own text, so
// callers see the column they typed.
Result<ReturnItem> Parser::return_item(std::string_view text) {
    std::string_view t = trim(text);
    ReturnItem item;
    if (auto as = find_keyword_top_level_from(t, "AS", 0)) {
        QM_TRY(e, expr(t.substr(0, *as)));
        QM_TRY(name, parse_identifier(t.substr(*as + 2)));
        item.expr = std::move(e);
        item.column = std::move(name);
        return item;
    }
    QM_TRY(e, expr(t));
    item.expr = std::move(e);
    item.column = std::string(t);
    return item;
}

// expr := count(*) | '*' | function '(' identifier ')' | '$' name | string | null | true
//       | false | '[' expr {',' expr} ']' | integer | float | variable '.' key | variable
Result<Expr> Parser::expr(std::string_view text) {
    std::string_view t = trim(text);
    if (t == "*" || equals_nocase(t, "count(*)")) return make_expr(ExprKind::CountStar);
    if (t.empty()) return fail(std::string(msg::kEmptyExpression));
    for (const FunctionForm& f : kFunctions) {
        if (t.size() <= f.name.size() + 2 || !starts_with_nocase(t, f.name)) continue;
        std::string_view rest = trim_start(t.substr(f.name.size()));
        if (rest.empty() || rest[0] != '(' || rest.back() != ')') continue;
        QM_TRY(var, parse_identifier(trim(rest.substr(1, rest.size() - 2))));
        return make_expr(f.kind, std::move(var));
    }
    if (t[0] == '$') {
        QM_TRY(name, parse_identifier(t.substr(1)));
        return make_expr(ExprKind::Parameter, std::move(name));
    }
    if (is_one_string_literal(t)) {
        QM_TRY(s, unquote(t));
        Expr e;
        e.literal = std::move(s);
        return e;
    }
    if (equals_nocase(t, "null")) return Expr{};
    if (equals_nocase(t, "true") || equals_nocase(t, "false")) {
        Expr e;
        e.literal = equals_nocase(t, "true");
        return e;
    }
    if (t[0] == '[' && t.back() == ']') {
        QM_CHECK(enter());
        Expr e = make_expr(ExprKind::List);
        std::vector<std::string_view> pieces;
        split_top_level(t.substr(1, t.size() - 2), pieces);
        e.items.reserve(pieces.size());
        for (std::string_view piece : pieces) {
            auto item = expr(piece);
            if (!item) return fail(std::move(item.error()));
            e.items.push_back(std::move(*item));
        }
        leave();
        return e;
    }
    if (auto i = parse_int(t)) {
        Expr e;
        e.literal = *i;
        return e;
    }
    if (auto dot = t.find('.'); dot != std::string_view::npos) {
        if (auto f = parse_f64(t)) {
            Expr e;
            e.literal = *f;
            return e;
        }
        if (t.find('.', dot + 1) == std::string_view::npos) {
            QM_TRY(var, parse_identifier(trim(t.substr(0, dot))));
            QM_TRY(key, parse_property_key(trim(t.substr(dot + 1))));
            Expr e = make_expr(ExprKind::Property, std::move(var));
            e.key = std::move(key);
            return e;
        }
    }
    QM_TRY(var, parse_identifier(t));
    return make_expr(ExprKind::VariableRef, std::move(var));
}

}  // namespace

Result<Query> parse_query(std::string_view text) { return Parser().query(text); }
Result<Pattern> parse_pattern(std::string_view text) { return Parser().pattern(text); }
Result<std::pair<NodePattern, Pos>> parse_node_at(std::string_view text, Pos position) {
    return Parser().node_at(text, position);
}
Result<Predicate> parse_predicate(std::string_view text) { return Parser().predicate(text); }
Result<Projection> parse_projection(std::string_view text) { return Parser().projection(text); }
Result<ReturnItem> parse_return_item(std::string_view text) { return Parser().return_item(text); }
Result<Expr> parse_expr(std::string_view text) { return Parser().expr(text); }

}  // namespace qm::cypher
