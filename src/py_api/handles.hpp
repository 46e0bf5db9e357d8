// The thread-bound handle objects (Graph, GraphSnapshot) and their borrow discipline.
// A Graph holds a shared, reference-counted cell with the live graph; a GraphSnapshot holds
// the bounds of one moment of it (sharing its records). Both refuse use from a thread other
// than their creator's.
#pragma once

#include "py_api/pyref.hpp"

#include <memory>

#include "core/graph.hpp"
#include "core/live_graph.hpp"

namespace qm::py {

enum class Borrow { Shared, Exclusive };

// Borrow state: a count of shared borrows, or -1 for one exclusive borrow.
struct BorrowFlag {
    int state = 0;
};

struct GraphCell {
    LiveGraph graph;
    BorrowFlag flag;
};

// What every thread-bound handle carries: its creator's thread token and the borrow state
// of the handle itself (the cell, when shared, has its own).
struct HandleState {
    unsigned long thread;
    BorrowFlag flag;
};

struct GraphObject {
    PyObject_HEAD
    HandleState handle;
    std::shared_ptr<GraphCell> cell;
};

struct SnapshotObject {
    PyObject_HEAD
    HandleState handle;
    Snapshot* snapshot;
};

// Holds one borrow of a flag for its lifetime.
class BorrowGuard {
public:
    BorrowGuard() = default;
    BorrowGuard(const BorrowGuard&) = delete;
    BorrowGuard& operator=(const BorrowGuard&) = delete;
    ~BorrowGuard() { release(); }

    // False (nothing held) on conflict; the caller raises.
    bool acquire(BorrowFlag& flag, Borrow mode) {
        if (mode == Borrow::Exclusive) {
            if (flag.state != 0) return false;
            flag.state = -1;
        } else {
            if (flag.state < 0) return false;
            ++flag.state;
        }
        flag_ = &flag;
        mode_ = mode;
        return true;
    }
    void release() {
        if (!flag_) return;
        if (mode_ == Borrow::Exclusive) flag_->state = 0;
        else --flag_->state;
        flag_ = nullptr;
    }

private:
    BorrowFlag* flag_ = nullptr;
    Borrow mode_ = Borrow::Shared;
};

// "Already borrowed" (exclusive wanted) or "Already mutably borrowed" (shared wanted).
PyObject* raise_borrow_conflict(Borrow wanted);

// Wraps a copy of a graph in a new GraphSnapshot bound to the current thread.
PyObject* make_snapshot(PyObject* any_module_object, Snapshot snapshot);
// The same for a graph made on the spot (a subgraph): the snapshot is its only holder.
PyObject* make_snapshot(PyObject* any_module_object, GraphCore core);

// Names the calling thread for the thread-binding rule. Unlike the interpreter's thread
// ident, a token is never handed to a later thread, so a handle whose creator has exited
// cannot pass for that creator's on a new thread that happens to get the same ident.
unsigned long current_thread_token();

// The handle's own state for a new object on this thread.
inline HandleState new_handle_state() { return HandleState{current_thread_token(), BorrowFlag{}}; }

}  // namespace qm::py
