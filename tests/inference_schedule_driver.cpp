// Runs the propagation engine on a model read from stdin and prints every applied update,
// the pass figures and the beliefs, so a test can compare the schedule itself (not only its
// outcome) with a plain full-sweep reference.
//
// Input (whitespace separated): n; n cardinalities; n observed states (-1: none);
// for each variable without evidence its base distribution; the factor count; per factor:
// id is_cpd arity variables... value_count values...; then max_iters tolerance damping.
// Output: "U kind factor variable" per update; "R iterations updated max_residual converged";
// "B variable p..." per variable; or "E message" when the run fails.
#include <cstdio>
#include <iostream>
#include <vector>

#include "inference/message_passing.hpp"

namespace {

class Printer : public qm::inference::UpdateObserver {
public:
    void applied(int kind, std::uint64_t factor_id, std::size_t variable) override {
        std::printf("U %d %llu %zu\n", kind, static_cast<unsigned long long>(factor_id), variable);
    }
};

std::vector<std::uint64_t> strides_of(const std::vector<std::uint64_t>& cards, bool is_cpd) {
    const std::size_t n = cards.size();
    std::vector<std::uint64_t> s(n, 1);
    if (n == 0) return s;
    if (!is_cpd) {
        for (std::size_t i = n - 1; i-- > 0;) s[i] = s[i + 1] * cards[i + 1];
    } else {
        std::uint64_t running = cards[0];
        for (std::size_t i = n - 1; i >= 1; --i) {
            s[i] = running;
            running *= cards[i];
        }
    }
    return s;
}

}  // namespace

int main() {
    std::size_t n = 0;
    std::cin >> n;
    std::vector<std::size_t> cards(n);
    for (auto& c : cards) std::cin >> c;
    std::vector<std::optional<std::size_t>> evidence(n);
    for (auto& e : evidence) {
        long long s = 0;
        std::cin >> s;
        if (s >= 0) e = static_cast<std::size_t>(s);
    }
    std::vector<std::vector<double>> base(n);
    for (std::size_t v = 0; v < n; ++v) {
        if (evidence[v]) continue;
        base[v].resize(cards[v]);
        for (double& x : base[v]) std::cin >> x;
    }
    std::size_t factor_count = 0;
    std::cin >> factor_count;
    std::vector<std::vector<double>> tables(factor_count);
    qm::inference::ResidualPropagation engine(cards, evidence);
    for (std::size_t k = 0; k < factor_count; ++k) {
        std::uint64_t id = 0;
        int is_cpd = 0;
        std::size_t arity = 0, count = 0;
        std::cin >> id >> is_cpd >> arity;
        std::vector<std::size_t> vars(arity);
        std::vector<std::uint64_t> table_cards(arity);
        for (std::size_t i = 0; i < arity; ++i) {
            std::cin >> vars[i];
            table_cards[i] = cards[vars[i]];
        }
        std::cin >> count;
        tables[k].resize(count);
        for (double& x : tables[k]) std::cin >> x;
        engine.add_factor(id, vars, strides_of(table_cards, is_cpd != 0), tables[k]);
    }
    std::uint64_t max_iters = 0;
    double tolerance = 0, damping = 0;
    std::cin >> max_iters >> tolerance >> damping;
    if (!std::cin) {
        std::printf("E bad input\n");
        return 2;
    }
    auto base_of = [&](std::size_t v) -> qm::Result<std::vector<double>> { return base[v]; };
    Printer printer;
    auto outcome = engine.run(max_iters, tolerance, damping, base_of, &printer);
    if (!outcome) {
        std::printf("E %s\n", outcome.error().c_str());
        return 0;
    }
    std::printf("R %llu %llu %.17g %d\n", static_cast<unsigned long long>(outcome->iterations),
                static_cast<unsigned long long>(outcome->messages_updated), outcome->max_residual,
                outcome->converged ? 1 : 0);
    for (std::size_t v = 0; v < n; ++v) {
        auto b = engine.belief(v, base_of);
        if (!b) {
            std::printf("E %s\n", b.error().c_str());
            return 0;
        }
        std::printf("B %zu", v);
        for (double x : *b) std::printf(" %.17g", x);
        std::printf("\n");
    }
    return 0;
}
