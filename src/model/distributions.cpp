#include "model/distributions.hpp"

#include <algorithm>
#include <cmath>

#include "model/model_messages.hpp"
#include "model/tables.hpp"
#include "model/variables.hpp"

namespace qm::model {

namespace {

Result<const VariableRecord*> variable(const GraphView& g, std::uint64_t id) {
    const VariableRecord* v = find_variable(g, id);
    if (!v) return fail(msg::variable_not_found(id));
    return v;
}

bool is_binary_states(const std::vector<std::string>& states) {
    return states.size() == 2 && states[0] == "false" && states[1] == "true";
}

// A state's weight: a number (text parsed strictly), finite and not below zero.
Result<double> state_weight(const PropertyValue& value, std::string_view label, std::string_view state) {
    std::optional<double> x = as_f64(value);
    if (!x) return fail(msg::state_not_numeric(label, state));
    if (!std::isfinite(*x) || *x < 0.0) return fail(msg::values_not_finite(label));
    return *x;
}

}  // namespace

Result<std::uint64_t> state_index(const GraphView& g, std::uint64_t variable_id, std::string_view state) {
    QM_TRY(v, variable(g, variable_id));
    for (std::size_t i = 0; i < v->states.size(); ++i)
        if (v->states[i] == state) return i;
    return fail(msg::state_not_found(state, variable_id));
}

Result<std::vector<double>> hard_evidence(const GraphView& g, std::uint64_t variable_id, std::string_view state) {
    QM_TRY(index, state_index(g, variable_id, state));
    std::vector<double> out(find_variable(g, variable_id)->states.size(), 0.0);
    out[index] = 1.0;
    return out;
}

Result<std::vector<double>> distribution_from_properties(const GraphView& g, std::uint64_t variable_id,
                                                         const PropertyMap& map, std::string_view label) {
    QM_TRY(v, variable(g, variable_id));
    const std::size_t n = v->states.size();
    std::vector<double> values(n, 0.0);
    bool found = false;
    for (std::size_t i = 0; i < n; ++i) {
        const PropertyValue* entry = map.find(v->states[i]);
        if (!entry) continue;
        QM_TRY(weight, state_weight(*entry, label, v->states[i]));
        values[i] = weight;
        found = true;
    }
    if (found) return normalize(values);
    if (is_binary_states(v->states)) {
        if (const PropertyValue* p_entry = map.find("p")) {
            std::optional<double> p = as_f64(*p_entry);
            if (!p) return fail(msg::binary_p_not_numeric(label));
            if (!(*p >= 0.0 && *p <= 1.0)) return fail(msg::binary_p_out_of_range(label));
            const double pair[2] = {1.0 - *p, *p};
            return normalize(pair);
        }
    }
    return uniform(n);
}

Result<LabelDistribution> label_distribution(const GraphView& g, std::uint64_t variable_id,
                                             std::span<const double> values) {
    QM_TRY(v, variable(g, variable_id));
    if (values.size() != v->states.size()) return fail(msg::distribution_length(variable_id));
    LabelDistribution out;
    out.reserve(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) out.emplace_back(v->states[i], values[i]);
    std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return out;
}

Result<LabelDistribution> posterior(const GraphView& g, std::uint64_t variable_id) {
    QM_TRY(v, variable(g, variable_id));
    if (const std::vector<double>* latest = g.posterior(variable_id))
        return label_distribution(g, variable_id, *latest);
    const bool from_posterior = !v->posterior.empty();
    QM_TRY(values, distribution_from_properties(g, variable_id, from_posterior ? v->posterior : v->prior,
                                                from_posterior ? "posterior" : "prior"));
    return label_distribution(g, variable_id, values);
}

}  // namespace qm::model
