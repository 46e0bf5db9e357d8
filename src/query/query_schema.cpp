#include "query/query_schema.hpp"

#include <initializer_list>
#include <string_view>

#include "query/query_spec.hpp"

namespace qm {

namespace {

SchemaValue text(std::string_view t) {
    SchemaValue v;
    v.text = std::string(t);
    return v;
}

template <class Texts>
SchemaValue list(const Texts& ts) {
    SchemaValue v;
    v.kind = SchemaValue::Kind::TextList;
    for (std::string_view t : ts) v.texts.emplace_back(t);
    return v;
}

SchemaValue list(std::initializer_list<std::string_view> ts) { return list<decltype(ts)>(ts); }

// The pattern dictionaries: the allowed fields, then one description per field.
SchemaValue pattern(std::initializer_list<std::pair<std::string_view, std::string_view>> fields) {
    SchemaValue v;
    v.kind = SchemaValue::Kind::Dict;
    SchemaValue names;
    names.kind = SchemaValue::Kind::TextList;
    for (const auto& f : fields) names.texts.emplace_back(f.first);
    v.entries.emplace_back("allowed_fields", std::move(names));
    for (const auto& f : fields) v.entries.emplace_back(std::string(f.first), text(f.second));
    return v;
}

}  // namespace

SchemaValue query_schema() {
    SchemaValue s;
    s.kind = SchemaValue::Kind::Dict;
    auto add = [&](std::string_view key, SchemaValue v) { s.entries.emplace_back(std::string(key), std::move(v)); };
    add("name", text("quillmere_query_dsl_v0"));
    add("description", text("Structured path-pattern query DSL for one connected node-edge-node path."));
    add("operators", list(kOperatorTexts));
    // Only the short words: the long forms are accepted but not advertised.
    add("directions", list(kDirectionTexts));
    add("top_level_fields", list({"match", "return", "limit"}));
    add("return", text("optional list of node or edge aliases"));
    add("limit", text("optional non-negative integer row limit"));
    add("node_pattern", pattern({{"node", "required alias string"},
                                 {"id", "optional internal node id"},
                                 {"external_id", "optional external node id"},
                                 {"labels", "optional list of required labels"},
                                 {"properties", "optional exact-match property dict"},
                                 {"where", "optional list of property filters"}}));
    add("edge_pattern", pattern({{"edge", "optional alias string"},
                                 {"id", "optional internal edge id"},
                                 {"type", "optional edge type"},
                                 {"direction", "optional direction relative to surrounding nodes"},
                                 {"properties", "optional exact-match property dict"},
                                 {"where", "optional list of property filters"}}));
    add("where_filter", pattern({{"property", "required property key"},
                                 {"op", "optional operator, defaults to eq"},
                                 {"value", "scalar value, or list when op is in"}}));
    return s;
}

}  // namespace qm
