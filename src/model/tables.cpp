#include "model/tables.hpp"

#include <cmath>
#include <string>
#include <unordered_set>

#include "model/model_messages.hpp"
#include "model/variables.hpp"

namespace qm::model {

namespace {

// Tables are small, so a linear scan finds repeats faster than hashing until they are not.
constexpr std::size_t kLinearRepeatScan = 16;

Status check_chunks(std::span<const double> values, std::size_t chunk) {
    if (chunk == 0) return ok();
    for (std::size_t start = 0; start < values.size(); start += chunk) {
        double sum = -0.0;
        bool any = false;
        for (std::size_t i = start; i < start + chunk && i < values.size(); ++i) {
            sum += values[i];
            any = any || values[i] != 0.0;
        }
        if (!any) return fail(std::string(msg::kCpdChunkZero));
        if (!(std::fabs(sum - 1.0) <= kCpdSumTolerance)) return fail(std::string(msg::kCpdChunkSum));
    }
    return ok();
}

}  // namespace

Status validate_factor_table(const GraphView& graph, std::span<const std::uint64_t> variables,
                             std::span<const double> values, bool is_cpd) {
    if (variables.empty()) return fail(std::string(msg::kTableVariablesEmpty));
    std::uint64_t expected = 1;
    std::unordered_set<std::uint64_t> seen;
    for (std::size_t i = 0; i < variables.size(); ++i) {
        std::uint64_t id = variables[i];
        const VariableRecord* v = find_variable(graph, id);
        if (!v) return fail(msg::variable_not_found(id));
        bool repeated = false;
        if (variables.size() <= kLinearRepeatScan) {
            for (std::size_t j = 0; j < i && !repeated; ++j) repeated = variables[j] == id;
        } else {
            repeated = !seen.insert(id).second;
        }
        if (repeated) return fail(msg::duplicate_table_variable(id));
        std::uint64_t card = v->states.size();
        if (card != 0 && expected > ~std::uint64_t{0} / card)
            return fail(std::string(msg::kTableCardinalityOverflow));
        expected *= card;
    }
    if (values.size() != expected) return fail(msg::table_length(values.size(), expected));
    bool any = false;
    for (double x : values) {
        if (!std::isfinite(x) || x < 0.0) return fail(std::string(msg::kTableValuesInvalid));
        any = any || x != 0.0;
    }
    if (!any) return fail(std::string(msg::kTableAllZero));
    if (is_cpd) return check_chunks(values, find_variable(graph, variables[0])->states.size());
    return ok();
}

Result<std::vector<double>> normalize(std::span<const double> values) {
    double sum = -0.0;
    for (double x : values) sum += x;
    if (!std::isfinite(sum) || !(sum > 0.0)) return fail(std::string(msg::kNoMass));
    std::vector<double> out(values.begin(), values.end());
    for (double& x : out) x /= sum;
    return out;
}

std::vector<std::uint64_t> table_strides(std::span<const std::uint64_t> cards, bool is_cpd) {
    const std::size_t n = cards.size();
    std::vector<std::uint64_t> strides(n, 1);
    if (n == 0) return strides;
    if (!is_cpd) {
        for (std::size_t i = n - 1; i-- > 0;) strides[i] = strides[i + 1] * cards[i + 1];
        return strides;
    }
    std::uint64_t running = cards[0];
    for (std::size_t i = n - 1; i >= 1; --i) {
        strides[i] = running;
        running *= cards[i];
    }
    return strides;
}

std::vector<double> uniform(std::size_t n) { return std::vector<double>(n, 1.0 / static_cast<double>(n)); }

}  // namespace qm::model
