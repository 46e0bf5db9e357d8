#include "model/factors.hpp"

#include "model/model_messages.hpp"
#include "model/tables.hpp"
#include "model/variables.hpp"
#include "model/write_protocol.hpp"

namespace qm::model {

namespace {

// Every check add_factor makes, in its order; yields the record the write will carry.
Result<FactorRecord> checked_factor(const GraphCore& g, std::vector<std::uint64_t> input_variables,
                                    std::vector<std::uint64_t> output_variables, std::string function,
                                    PropertyMap parameters) {
    if (function.empty()) return fail(std::string(msg::kFunctionEmpty));
    QM_CHECK(validate_properties(parameters));
    const GraphView view(g);
    for (const auto* list : {&input_variables, &output_variables})
        for (std::uint64_t v : *list)
            if (!find_variable(view, v)) return fail(msg::variable_not_found(v));
    if (g.next_factor_id == ~std::uint64_t{0}) return fail(std::string(msg::kFactorIdOverflow));
    FactorRecord record;
    record.id = g.next_factor_id;
    record.input_variables = std::move(input_variables);
    record.output_variables = std::move(output_variables);
    record.function = std::move(function);
    record.parameters = std::move(parameters);
    return record;
}

// The factor and its table in one store transaction, then both into memory.
Result<std::uint64_t> add_factor_with_table(GraphCore& g, FactorRecord factor, std::vector<std::uint64_t> variables,
                                            std::vector<double> values, bool is_cpd) {
    FactorTableRecord table;
    table.factor_id = factor.id;
    table.variables = std::move(variables);
    table.values = std::move(values);
    table.is_cpd = is_cpd;
    // A table left under this id by a damaged file must not be silently replaced.
    if (find_factor_table(g, table.factor_id)) return fail(msg::factor_table_exists(table.factor_id));
    QM_CHECK(write_through(g, [&](GraphStore& s) { return s.insert_factor_with_table(factor, table); }));
    const std::uint64_t id = factor.id;
    QM_CHECK(insert_factor_record(g, std::move(factor)));
    QM_CHECK(insert_factor_table_record(g, std::move(table)));
    return id;
}

}  // namespace

Result<std::uint64_t> add_factor(GraphCore& g, std::vector<std::uint64_t> input_variables,
                                 std::vector<std::uint64_t> output_variables, std::string function,
                                 PropertyMap parameters) {
    QM_TRY(record, checked_factor(g, std::move(input_variables), std::move(output_variables), std::move(function),
                                  std::move(parameters)));
    QM_CHECK(write_through(g, [&](GraphStore& s) { return s.insert_factor(record); }));
    const std::uint64_t id = record.id;
    QM_CHECK(insert_factor_record(g, std::move(record)));
    return id;
}

Result<std::uint64_t> add_factor_table(GraphCore& g, std::vector<std::uint64_t> variables,
                                       std::vector<double> values) {
    QM_CHECK(validate_factor_table(g, variables, values, false));
    QM_TRY(factor, checked_factor(g, variables, {}, std::string(kFactorTableFunction), {}));
    return add_factor_with_table(g, std::move(factor), std::move(variables), std::move(values), false);
}

Result<std::uint64_t> add_cpd(GraphCore& g, std::uint64_t variable_id, std::vector<std::uint64_t> parent_variables,
                              std::vector<double> values) {
    if (!find_variable(g, variable_id)) return fail(msg::variable_not_found(variable_id));
    std::vector<std::uint64_t> table_variables;
    table_variables.reserve(parent_variables.size() + 1);
    table_variables.push_back(variable_id);
    table_variables.insert(table_variables.end(), parent_variables.begin(), parent_variables.end());
    QM_CHECK(validate_factor_table(g, table_variables, values, true));
    QM_TRY(factor, checked_factor(g, std::move(parent_variables), {variable_id}, std::string(kCpdFunction), {}));
    return add_factor_with_table(g, std::move(factor), std::move(table_variables), std::move(values), true);
}

Status insert_factor_record(GraphCore& g, FactorRecord record) {
    return place_record(g.factors, g.next_factor_id, std::move(record), msg::factor_id_exists);
}

Status insert_factor_table_record(GraphCore& g, FactorTableRecord record) {
    const std::uint64_t id = record.factor_id;
    if (!g.factor_tables.try_emplace(id, std::move(record)).second) return fail(msg::factor_table_exists(id));
    return ok();
}

Status insert_loaded_factor_table(GraphCore& g, FactorTableRecord record) {
    QM_CHECK(validate_factor_table(g, record.variables, record.values, record.is_cpd));
    if (!find_factor(g, record.factor_id)) return fail(msg::factor_not_found(record.factor_id));
    return insert_factor_table_record(g, std::move(record));
}

std::optional<FactorRecord> get_factor(const GraphView& g, std::uint64_t id) {
    if (const FactorRecord* f = find_factor(g, id)) return *f;
    return std::nullopt;
}


}  // namespace qm::model
