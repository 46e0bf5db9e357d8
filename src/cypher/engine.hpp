// Pieces shared by the read executor and the writes: variable slots, row bindings,
// expression evaluation, matching and projection.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cypher/executor.hpp"

namespace qm::cypher::engine {

// What a variable is bound to in one row.
struct Slot {
    enum Kind : std::uint8_t { Unbound, Node, Edge } kind = Unbound;
    std::uint64_t id = 0;
};

// The variables of one pattern, each with a slot in every row.
class VarTable {
public:
    explicit VarTable(const Pattern& pattern);
    VarTable() = default;
    // -1 when the name is no variable of the pattern (it evaluates as unbound).
    int find(std::string_view name) const {
        for (std::size_t i = 0; i < names_.size(); ++i)
            if (names_[i] == name) return static_cast<int>(i);
        return -1;
    }
    int find(const std::optional<std::string>& name) const { return name ? find(std::string_view(*name)) : -1; }
    std::size_t size() const { return names_.size(); }

private:
    std::vector<std::string> names_;
};

// Row bindings stored end to end, width slots each.
struct Rows {
    std::size_t width = 0;
    std::vector<Slot> slots;
    std::size_t count = 0;

    const Slot* row(std::size_t i) const { return slots.data() + i * width; }
    void push(const Slot* row) {
        slots.insert(slots.end(), row, row + width);
        ++count;
    }
};

struct Ctx {
    WorkingGraph& graph;
    const Params& params;
    const VarTable& vars;
};

[[nodiscard]] Result<CypherValue> eval_expr(const Ctx& ctx, const Slot* row, const Expr& expr);
// Whether evaluating expr can fail at all (a missing parameter or an aggregate). Such
// failures do not depend on the row, which is what lets the executor stop early.
bool can_fail(const Expr& expr, const Params& params);

// Matches the pattern; with predicates, keeps only rows for which they hold. want bounds
// the rows needed (0: all); it is honoured only where stopping early cannot skip an error.
[[nodiscard]] Status match_pattern(const Ctx& ctx, const Pattern& pattern, const std::vector<Predicate>& predicates,
                                   std::size_t want, Rows& out);

[[nodiscard]] Result<CypherResult> project_rows(const Ctx& ctx, const Rows& rows, const Projection& projection,
                                                const char* statement_type);

// CREATE, and MERGE when its pattern is not found.
[[nodiscard]] Result<CypherResult> execute_create(const Ctx& ctx, const Pattern& pattern,
                                                  const std::optional<Projection>& projection);
// The result of a write: the projection over the one binding, with the write's counters.
[[nodiscard]] Result<CypherResult> project_write_result(const Ctx& ctx, const Slot* row,
                                                        const std::optional<Projection>& projection,
                                                        const CypherResult& counters);

}  // namespace qm::cypher::engine
