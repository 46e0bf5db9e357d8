#include "inference/message_passing.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>

#include "inference/messages.hpp"

namespace qm::inference {

Status normalize_in_place(std::span<double> values) {
    double sum = -0.0;
    for (double x : values) sum += x;
    if (!(std::isfinite(sum) && sum > 0.0)) return fail(std::string(msg::kNoMass));
    for (double& x : values) x /= sum;
    return ok();
}

ResidualPropagation::ResidualPropagation(std::vector<std::size_t> cards,
                                         std::vector<std::optional<std::size_t>> evidence)
    : cards_(std::move(cards)),
      evidence_(std::move(evidence)),
      base_(cards_.size()),
      base_ready_(cards_.size(), 0),
      var_edges_(cards_.size()) {}

void ResidualPropagation::add_factor(std::uint64_t id, std::span<const std::size_t> variables,
                                     std::span<const std::uint64_t> strides, std::span<const double> values) {
    Factor f{id, edges_.size(), variables.size(), values, strides_.size()};
    for (std::size_t i = 0; i < variables.size(); ++i) {
        const std::size_t v = variables[i];
        var_edges_[v].push_back(edges_.size());
        edges_.push_back(Edge{factors_.size(), v, i, message_size_});
        message_size_ += cards_[v];
        strides_.push_back(strides[i]);
    }
    // The odometer that walks flat indexes in order advances the smallest stride first.
    std::vector<std::size_t> order(variables.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return strides[a] < strides[b]; });
    carry_.insert(carry_.end(), order.begin(), order.end());
    digits_.resize(std::max(digits_.size(), variables.size()));
    factors_.push_back(f);
}

Status ResidualPropagation::ensure_base(std::size_t v, const BaseFn& base_of) {
    if (base_ready_[v]) return ok();
    QM_TRY(base, base_of(v));
    base.resize(cards_[v], 0.0);
    base_[v] = std::move(base);
    base_ready_[v] = 1;
    return ok();
}

// The variable's base (or one-hot evidence) times the messages of every other factor.
Status ResidualPropagation::compute_to_factor(std::size_t e) {
    const Edge& edge = edges_[e];
    const std::size_t card = cards_[edge.variable];
    double* out = &cand_factor_[edge.offset];
    if (const auto& observed = evidence_[edge.variable]) {
        std::fill(out, out + card, 0.0);
        out[*observed] = 1.0;
        return ok();
    }
    const std::vector<double>& base = base_[edge.variable];
    std::copy(base.begin(), base.end(), out);
    for (std::size_t other : var_edges_[edge.variable]) {
        if (other == e) continue;
        const double* m = &to_variable_[edges_[other].offset];
        for (std::size_t s = 0; s < card; ++s) out[s] *= m[s];
    }
    return normalize_in_place(std::span<double>(out, card));
}

// Sums the table against the other variables' messages, flat indexes ascending, zero
// entries skipped; each product multiplies the entry by the messages in position order.
Status ResidualPropagation::compute_to_variable(std::size_t e) {
    const Edge& edge = edges_[e];
    const Factor& f = factors_[edge.factor];
    const std::size_t n = f.arity;
    const std::size_t i = edge.position;
    double* out = &cand_variable_[edge.offset];
    std::fill(out, out + cards_[edge.variable], 0.0);
    const Edge* fe = &edges_[f.first_edge];
    const std::size_t* carry = &carry_[f.layout];
    if (n == 2) {
        // Pairwise tables, the common case: the same sums in the same order, walked as two
        // nested loops (slow digit outside) instead of the general odometer.
        const std::size_t slow = carry[1], fast = carry[0];
        const std::size_t slow_card = cards_[fe[slow].variable], fast_card = cards_[fe[fast].variable];
        const double* other = &to_factor_[fe[1 - i].offset];
        const double* value = f.values.data();
        for (std::size_t a = 0; a < slow_card; ++a) {
            for (std::size_t b = 0; b < fast_card; ++b, ++value) {
                if (*value == 0.0) continue;
                const std::size_t mine = i == slow ? a : b;
                const std::size_t theirs = i == slow ? b : a;
                out[mine] += *value * other[theirs];
            }
        }
        return normalize_in_place(std::span<double>(out, cards_[edge.variable]));
    }
    std::size_t* digit = digits_.data();
    std::fill(digit, digit + n, std::size_t{0});
    const std::size_t size = f.values.size();
    for (std::size_t k = 0; k < size; ++k) {
        const double value = f.values[k];
        if (value != 0.0) {
            double product = value;
            for (std::size_t j = 0; j < n; ++j) {
                if (j == i) continue;
                product *= to_factor_[fe[j].offset + digit[j]];
            }
            out[digit[i]] += product;
        }
        for (std::size_t c = 0; c < n; ++c) {
            const std::size_t j = carry[c];
            if (++digit[j] < cards_[fe[j].variable]) break;
            digit[j] = 0;
        }
    }
    return normalize_in_place(std::span<double>(out, cards_[edge.variable]));
}

double ResidualPropagation::residual(std::size_t slot) const {
    const Edge& edge = edges_[slot >> 1];
    const bool to_variable = slot & 1;
    const double* stored = to_variable ? &to_variable_[edge.offset] : &to_factor_[edge.offset];
    const double* cand = to_variable ? &cand_variable_[edge.offset] : &cand_factor_[edge.offset];
    double sum = -0.0;
    for (std::size_t s = 0, card = cards_[edge.variable]; s < card; ++s) sum += std::fabs(stored[s] - cand[s]);
    return sum;
}

// A NaN residual never wins a comparison in the tree; the one case where the written
// selection holds a NaN (the pass's first candidate) is handled in winner(). Ties go to the
// left, the earlier position.
void ResidualPropagation::set_key(std::size_t slot) {
    const double r = resid_[slot];
    std::size_t node = leaves_ + slot;
    tree_[node].key = std::isnan(r) ? -std::numeric_limits<double>::infinity() : r;
    for (node >>= 1; node >= 1; node >>= 1) {
        const Entry& a = tree_[2 * node];
        const Entry& b = tree_[2 * node + 1];
        tree_[node] = b.key > a.key ? b : a;
    }
}

std::size_t ResidualPropagation::winner() const {
    if (std::isnan(resid_[0])) return 0;
    return tree_[1].slot;
}

Result<PassOutcome> ResidualPropagation::run(std::uint64_t max_iters, double tolerance, double damping,
                                             const BaseFn& base_of) {
    to_factor_.assign(message_size_, 0.0);
    to_variable_.assign(message_size_, 0.0);
    cand_factor_.assign(message_size_, 0.0);
    cand_variable_.assign(message_size_, 0.0);
    for (const Edge& edge : edges_) {
        const std::size_t card = cards_[edge.variable];
        std::fill_n(&to_factor_[edge.offset], card, 1.0 / static_cast<double>(card));
        std::fill_n(&to_variable_[edge.offset], card, 1.0 / static_cast<double>(card));
    }
    PassOutcome out;
    const std::size_t slots = 2 * edges_.size();
    if (max_iters == 0) {
        out.converged = factors_.empty();
        return out;
    }

    // Pass 1 computes every candidate in schedule order, so the first error (a prior's,
    // or a sum without mass) is the one a full sweep would meet first.
    out.iterations = 1;
    resid_.assign(slots, 0.0);
    for (std::size_t e = 0; e < edges_.size(); ++e) {
        const std::size_t v = edges_[e].variable;
        if (!evidence_[v]) QM_CHECK(ensure_base(v, base_of));
        QM_CHECK(compute_to_factor(e));
        resid_[2 * e] = residual(2 * e);
        QM_CHECK(compute_to_variable(e));
        resid_[2 * e + 1] = residual(2 * e + 1);
    }
    if (slots == 0) {
        out.converged = true;
        return out;
    }
    leaves_ = std::bit_ceil(slots);
    tree_.assign(2 * leaves_, Entry{-std::numeric_limits<double>::infinity(), 0});
    for (std::size_t s = 0; s < leaves_; ++s) {
        tree_[leaves_ + s].slot = s;
        if (s < slots && !std::isnan(resid_[s])) tree_[leaves_ + s].key = resid_[s];
    }
    for (std::size_t node = leaves_ - 1; node >= 1; --node) {
        const Entry& a = tree_[2 * node];
        const Entry& b = tree_[2 * node + 1];
        tree_[node] = b.key > a.key ? b : a;
    }

    std::vector<double> damped;
    for (std::uint64_t pass = 1;; ++pass) {
        out.iterations = pass;
        const std::size_t w = winner();
        const double held = resid_[w];
        if (held <= tolerance) {
            out.converged = true;
            out.max_residual = held;
            return out;
        }
        const std::size_t e = w >> 1;
        const int kind = static_cast<int>(w & 1);
        const Edge& edge = edges_[e];
        const std::size_t card = cards_[edge.variable];
        double* stored = kind ? &to_variable_[edge.offset] : &to_factor_[edge.offset];
        const double* cand = kind ? &cand_variable_[edge.offset] : &cand_factor_[edge.offset];
        damped.resize(card);
        for (std::size_t s = 0; s < card; ++s) damped[s] = damping * stored[s] + (1.0 - damping) * cand[s];
        QM_CHECK(normalize_in_place(damped));
        out.max_residual = held;
        if (std::memcmp(damped.data(), stored, card * sizeof(double)) == 0) {
            // The update changed nothing (damping 1 keeps the old message), so every later
            // pass would pick and apply the same one: the run ends as max_iters passes would
            // end it, without spinning through them.
            out.iterations = out.messages_updated = max_iters;
            return out;
        }
        std::copy(damped.begin(), damped.end(), stored);
        out.messages_updated = pass;
        if (pass >= max_iters) return out;

        // What the update can change: its own residual, and the candidates that read it.
        resid_[w] = residual(w);
        set_key(w);
        if (kind == 0) {
            const Factor& f = factors_[edge.factor];
            for (std::size_t other = f.first_edge; other < f.first_edge + f.arity; ++other) {
                if (other == e) continue;
                QM_CHECK(compute_to_variable(other));
                resid_[2 * other + 1] = residual(2 * other + 1);
                set_key(2 * other + 1);
            }
        } else if (!evidence_[edge.variable]) {
            for (std::size_t other : var_edges_[edge.variable]) {
                if (other == e) continue;
                QM_CHECK(compute_to_factor(other));
                resid_[2 * other] = residual(2 * other);
                set_key(2 * other);
            }
        }
    }
}

Result<std::vector<double>> ResidualPropagation::belief(std::size_t v, const BaseFn& base_of) {
    const std::size_t card = cards_[v];
    std::vector<double> out(card, 0.0);
    if (const auto& observed = evidence_[v]) {
        out[*observed] = 1.0;
        return out;
    }
    QM_CHECK(ensure_base(v, base_of));
    std::copy(base_[v].begin(), base_[v].end(), out.begin());
    for (std::size_t e : var_edges_[v]) {
        const double* m = &to_variable_[edges_[e].offset];
        for (std::size_t s = 0; s < card; ++s) out[s] *= m[s];
    }
    QM_CHECK(normalize_in_place(out));
    return out;
}

}  // namespace qm::inference
