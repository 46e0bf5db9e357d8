#include "inference/messages.hpp"

namespace qm::inference::msg {

std::string factor_table_not_found(std::uint64_t factor_id) {
    return "factor table " + std::to_string(factor_id) + " not found";
}

std::string variable_not_in_factor(std::uint64_t variable_id, std::uint64_t factor_id) {
    return "variable " + std::to_string(variable_id) + " is not in factor " + std::to_string(factor_id);
}

std::string large_active_subgraph(std::uint64_t variables, std::uint64_t factors, std::uint64_t nodes) {
    return "large active subgraph: " + std::to_string(variables) + " variables, " +
           std::to_string(factors) + " factors, " + std::to_string(nodes) + " graph nodes";
}

std::string did_not_converge(std::uint64_t max_iters) {
    return "belief propagation did not converge within " + std::to_string(max_iters) + " iterations";
}

std::string used_iterations(std::uint64_t iterations, std::uint64_t max_iters) {
    return "belief propagation used " + std::to_string(iterations) + " of " + std::to_string(max_iters) +
           " configured iterations";
}

}  // namespace qm::inference::msg
