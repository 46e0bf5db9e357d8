// Residual-ordered damped sum-product message passing over a compiled factor graph.
//
// The schedule is the written one: each pass computes every candidate update in order
// (factors ascending, each factor's variables in table order, the variable-to-factor
// candidate before the factor-to-variable one) and applies only the candidate whose message
// would change most (L1), the first computed winning among equal residuals; a NaN residual
// never displaces a held candidate but is held when it comes first. Instead of recomputing
// every candidate per pass, this keeps every candidate and its residual, recomputes only
// those an applied update can change (the updated message's own residual, and the
// candidates that read that message), and picks the winner from a tournament tree keyed by
// (residual, position in the full sweep's order). The updates, their order and every double
// are the same as a full sweep's.
//
// Knows nothing of the graph: variables are local indexes 0..n-1, tables arrive as spans
// that must outlive the run. So it can be exercised on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "core/result.hpp"

namespace qm::inference {

struct PassOutcome {
    std::uint64_t iterations = 0;
    std::uint64_t messages_updated = 0;
    double max_residual = 0.0;
    bool converged = false;
};

// The values divided by their sum (added left to right from -0.0), in place; fails unless the
// sum is finite and strictly positive.
[[nodiscard]] Status normalize_in_place(std::span<double> values);

class ResidualPropagation {
public:
    // A variable's distribution before messages: its prior (only asked for variables without
    // evidence, at most once each, when first needed in sweep order).
    using BaseFn = std::function<Result<std::vector<double>>(std::size_t variable)>;

    // cards[v] is local variable v's cardinality; evidence[v] its observed state, if any.
    ResidualPropagation(std::vector<std::size_t> cards, std::vector<std::optional<std::size_t>> evidence);

    // Factors must be added by ascending id: that order is the sweep's tie-break. `variables` are local
    // indexes in table order, `strides` the table layout's stride per variable.
    void add_factor(std::uint64_t id, std::span<const std::size_t> variables,
                    std::span<const std::uint64_t> strides, std::span<const double> values);

    // Uniform messages, then passes until the best residual is within tolerance, no candidate
    // exists, or max_iters passes have run. Errors (a prior's, or a distribution without
    // mass) end the run.
    [[nodiscard]] Result<PassOutcome> run(std::uint64_t max_iters, double tolerance, double damping,
                                          const BaseFn& base_of);

    // The variable's base times every factor-to-variable message it receives, factors
    // ascending, normalised; a one-hot vector for an observed variable.
    [[nodiscard]] Result<std::vector<double>> belief(std::size_t variable, const BaseFn& base_of);

    std::size_t factor_count() const { return factors_.size(); }

private:
    struct Edge {
        std::size_t factor;     // index into factors_
        std::size_t variable;   // local variable
        std::size_t position;   // the variable's position in the factor's table
        std::size_t offset;      // where the edge's messages start in the message arrays
    };
    struct Factor {
        std::uint64_t id;
        std::size_t first_edge;
        std::size_t arity;
        std::span<const double> values;
        std::size_t layout;  // into strides_ / carry_: arity entries each
    };

    [[nodiscard]] Status ensure_base(std::size_t v, const BaseFn& base_of);
    [[nodiscard]] Status compute_to_factor(std::size_t e);
    [[nodiscard]] Status compute_to_variable(std::size_t e);
    double residual(std::size_t slot) const;
    void set_key(std::size_t slot);
    std::size_t winner() const;

    std::vector<std::size_t> cards_;
    std::vector<std::optional<std::size_t>> evidence_;
    std::vector<std::vector<double>> base_;
    std::vector<char> base_ready_;
    std::vector<Factor> factors_;
    std::vector<Edge> edges_;
    std::vector<std::uint64_t> strides_;
    std::vector<std::size_t> carry_;  // per factor, positions by ascending stride
    std::vector<std::vector<std::size_t>> var_edges_;  // per variable, ascending factor id
    std::size_t message_size_ = 0;
    std::vector<double> to_factor_, to_variable_;        // stored messages
    std::vector<double> cand_factor_, cand_variable_;    // current candidates
    std::vector<double> resid_;                          // slot 2e + kind
    // A tournament tree over the slots: node n holds the winner of its subtree with the
    // winner's key (its residual, NaN as -inf) inline, so a climb reads one pair per level.
    struct Entry {
        double key;
        std::size_t slot;
    };
    std::vector<Entry> tree_;                            // root at 1, leaves from leaves_
    std::size_t leaves_ = 0;
    std::vector<std::size_t> digits_;                    // odometer scratch
};

}  // namespace qm::inference
