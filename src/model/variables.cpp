#include "model/variables.hpp"

#include <unordered_set>

#include "core/messages.hpp"
#include "model/model_messages.hpp"
#include "model/write_protocol.hpp"

namespace qm::model {

namespace {

constexpr std::string_view kBinaryDomain = "binary";

}  // namespace

Result<std::vector<std::string>> states_for_domain(const std::string& domain,
                                                   std::optional<std::vector<std::string>> states) {
    if (states) {
        if (states->empty()) return fail(std::string(msg::kStatesEmpty));
        std::unordered_set<std::string_view> seen;
        seen.reserve(states->size());
        for (const std::string& s : *states) {
            if (s.empty()) return fail(std::string(msg::kStateEmpty));
            if (!seen.insert(s).second) return fail(msg::duplicate_state(s));
        }
        return std::move(*states);
    }
    if (domain == kBinaryDomain) return std::vector<std::string>{"false", "true"};
    return fail(msg::states_required(domain));
}

Result<std::uint64_t> add_variable(GraphCore& g, std::string domain, std::optional<std::uint64_t> owner_id,
                                   std::optional<std::vector<std::string>> states, PropertyMap prior,
                                   PropertyMap posterior) {
    if (domain.empty()) return fail(std::string(msg::kDomainEmpty));
    QM_TRY(checked_states, states_for_domain(domain, std::move(states)));
    QM_CHECK(validate_properties(prior));
    QM_CHECK(validate_properties(posterior));
    if (owner_id && !g.node_exists(*owner_id)) return fail(qm::msg::node_not_found(*owner_id));
    if (g.next_variable_id == ~std::uint64_t{0}) return fail(std::string(msg::kVariableIdOverflow));

    VariableRecord record;
    record.id = g.next_variable_id;
    record.domain = std::move(domain);
    record.owner_id = owner_id;
    record.states = std::move(checked_states);
    record.prior = std::move(prior);
    record.posterior = std::move(posterior);
    QM_CHECK(write_through(g, [&](GraphStore& s) { return s.insert_variable(record); }));
    const std::uint64_t id = record.id;
    QM_CHECK(insert_variable_record(g, std::move(record)));
    return id;
}

Status insert_variable_record(GraphCore& g, VariableRecord record) {
    return place_record(g.variables, g.next_variable_id, std::move(record), msg::variable_id_exists);
}

std::optional<VariableRecord> get_variable(const GraphView& g, std::uint64_t id) {
    if (const VariableRecord* v = find_variable(g, id)) return *v;
    return std::nullopt;
}

Result<std::vector<std::string>> variable_states(const GraphView& g, std::uint64_t id) {
    const VariableRecord* v = find_variable(g, id);
    if (!v) return fail(msg::variable_not_found(id));
    return v->states;
}

}  // namespace qm::model
