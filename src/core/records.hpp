// The plain record types exchanged between the graph, the store and the Python layer.
// Inside GraphCore records live in a packed form; these are the detached copies.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/property_batch.hpp"
#include "core/values.hpp"

namespace qm {

struct NodeRecord {
    std::uint64_t id = 0;
    std::string external_id;
    std::vector<std::string> labels;  // creation order, duplicates kept
    PropertyMap properties;
};

struct EdgeRecord {
    std::uint64_t id = 0;
    std::uint64_t source = 0;
    std::uint64_t target = 0;
    std::string edge_type;
    PropertyMap properties;
};

// A record of an insertion batch; its properties are staged in the batch's PropertyBatch.
struct NewNodeRecord {
    std::optional<std::string> external_id;
    std::vector<std::string> labels;
    PropertyBatch::Run properties;
};

struct NewEdgeRecord {
    std::uint64_t source = 0;
    std::uint64_t target = 0;
    std::string edge_type;
    PropertyBatch::Run properties;
};

struct VariableRecord {
    std::uint64_t id = 0;
    std::string domain;
    std::optional<std::uint64_t> owner_id;
    std::vector<std::string> states;
    PropertyMap prior;
    PropertyMap posterior;
};

struct FactorRecord {
    std::uint64_t id = 0;
    std::vector<std::uint64_t> input_variables;
    std::vector<std::uint64_t> output_variables;
    std::string function;
    PropertyMap parameters;
};

struct FactorTableRecord {
    std::uint64_t factor_id = 0;
    std::vector<std::uint64_t> variables;
    std::vector<double> values;
    bool is_cpd = false;
};

struct EvidenceRecord {
    std::uint64_t id = 0;
    std::uint64_t variable_id = 0;
    PropertyMap payload;
};

struct TraceRecord {
    std::uint64_t id = 0;
    PropertyMap payload;
};

}  // namespace qm
