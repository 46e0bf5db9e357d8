// The published description of the query language, as plain data: clients and query
// generators read it to check a query before sending one. Key order is part of the contract.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace qm {

// A text, a list of texts, or an ordered dictionary of further values.
struct SchemaValue {
    enum class Kind { Text, TextList, Dict };
    Kind kind = Kind::Text;
    std::string text;
    std::vector<std::string> texts;
    std::vector<std::pair<std::string, SchemaValue>> entries;
};

// Built fresh on every call: callers may keep and mutate what they are given.
SchemaValue query_schema();

}  // namespace qm
