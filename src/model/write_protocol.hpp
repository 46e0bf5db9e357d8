// The one way a model record reaches the file: staleness check, one store transaction,
// then the op-log sequence re-read. Memory is the caller's to update, and only after this
// succeeded, so a refused or failed write leaves the graph exactly as it was.
#pragma once

#include <utility>

#include "core/graph.hpp"
#include "core/store.hpp"

namespace qm::model {

// write(store) performs the store operation. Graphs without a store skip everything.
template <class Write>
[[nodiscard]] Status write_through(GraphCore& g, Write&& write) {
    if (!g.has_store()) return ok();
    QM_CHECK(g.ensure_store_current());
    QM_CHECK(std::forward<Write>(write)(*g.store.ptr));
    // Committed: from here on the write counts as done even if the sequence cannot be read.
    g.note_committed_write();
    return ok();
}

// Grows a slot vector to hold id and stores the record there; refuses an occupied slot.
template <class Record, class Message>
[[nodiscard]] Status place_record(std::vector<std::optional<Record>>& slots, std::uint64_t& next_id,
                                  Record record, Message&& occupied) {
    const std::uint64_t id = record.id;
    if (id < slots.size() && slots[id]) return fail(occupied(id));
    if (slots.size() <= id) slots.resize(id + 1);
    slots[id] = std::move(record);
    if (next_id < id + 1) next_id = id + 1;
    return ok();
}

}  // namespace qm::model
