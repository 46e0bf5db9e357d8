// Property filters of a query, resolved against one graph and tested on packed property
// maps without unpacking them. Operator semantics are the query language's: kinds never
// meet under eq/ne/in (Int 1 is not Float 1.0), ordering compares numbers only, and a key
// the entity lacks fails every operator, ne included.
#pragma once

#include <cstdint>
#include <vector>

#include "core/packed_props.hpp"
#include "core/symbols.hpp"
#include "query/query_spec.hpp"

namespace qm {

struct CompiledConstraint {
    Symbol key = kNoSymbol;  // kNoSymbol: no entity of this graph has the key
    PropertyOperator op = PropertyOperator::Eq;
    const ConstraintValue* value = nullptr;
    bool numeric = false;  // the scalar is an Int or Float; as_number holds it as a double
    double as_number = 0.0;
};

std::vector<CompiledConstraint> compile_constraints(const std::vector<PropertyConstraint>& constraints,
                                                    const SymbolTable& symbols);

// All constraints hold on the blob. With exact_floats, eq compares floats by their bits, as
// the value index does (0.0 and -0.0 differ there); the walk compares them as numbers.
bool properties_match(PackedProps blob, const std::vector<CompiledConstraint>& constraints,
                      bool exact_floats = false);

}  // namespace qm
