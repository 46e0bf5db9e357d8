// compute_batch job dictionaries to ComputeJob values.
//
// Every job is converted before any runs, and the first problem ends the call. Reading a
// field may run the caller's Python code (__index__, __float__, a sequence's __getitem__),
// which may even change the job list or a dict, so every object is held by a strong
// reference while it is read and list lengths are re-read on each turn.
#include "core/messages.hpp"
#include "py_api/compute_convert.hpp"
#include "py_api/errors.hpp"

namespace qm::py {

namespace {

// The user's objects may raise anything while being converted: ordinary exceptions become
// the field's message, but KeyboardInterrupt and friends are left to propagate.
bool replace_error(const std::string& message) {
    if (PyErr_Occurred() && !PyErr_ExceptionMatches(PyExc_Exception)) return false;
    PyErr_Clear();
    raise_value_error(message);
    return false;
}

bool py_to_u64(PyObject* o, std::uint64_t& out) {
    PyRef index = PyRef::steal(PyNumber_Index(o));
    if (!index) return false;
    unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = v;
    return true;
}

bool py_to_text(PyObject* o, std::string& out) {
    if (!PyUnicode_Check(o)) return false;
    Py_ssize_t len = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(o, &len);
    if (!utf8) return false;
    out.assign(utf8, static_cast<std::size_t>(len));
    return true;
}

// Reads the fields of one job dict, in the order its variant lists them.
class JobReader {
public:
    JobReader(PyObject* dict, std::size_t index) : dict_(dict), index_(index) {}

    // The field's value, or an empty ref when absent or None. False on a lookup error.
    bool get(const char* name, PyRef& out) {
        PyObject* value = nullptr;
        if (PyDict_GetItemStringRef(dict_, name, &value) < 0) return false;
        out = PyRef::steal(value);
        if (out.get() == Py_None) out = PyRef();
        return true;
    }

    bool required_u64(const char* name, std::uint64_t& out) {
        PyRef v;
        if (!get(name, v)) return false;
        if (!v) return missing(name);
        if (!py_to_u64(v.get(), out)) return replace_error(job_text() + " field " + quoted(name) + " must be an int");
        return true;
    }

    bool required_u64_list(const char* name, std::vector<std::uint64_t>& out) {
        PyRef v;
        if (!get(name, v)) return false;
        if (!v) return missing(name);
        std::string message = job_text() + " field " + quoted(name) + " must be a list of ints";
        PyObject* seq = v.get();
        if (PyUnicode_Check(seq) || !PySequence_Check(seq)) return replace_error(message);
        Py_ssize_t n = PySequence_Size(seq);
        if (n < 0) return replace_error(message);
        out.clear();
        for (Py_ssize_t i = 0; i < n && i < PySequence_Size(seq); ++i) {
            PyRef item = PyRef::steal(PySequence_GetItem(seq, i));
            std::uint64_t id = 0;
            if (!item || !py_to_u64(item.get(), id)) return replace_error(message);
            out.push_back(id);
        }
        if (PyErr_Occurred()) return replace_error(message);
        return true;
    }

    bool optional_u64(const char* name, std::optional<std::uint64_t>& out) {
        PyRef v;
        if (!get(name, v)) return false;
        if (!v) return true;
        std::uint64_t x = 0;
        if (!py_to_u64(v.get(), x)) return replace_error("optional field " + quoted(name) + " must be an int");
        out = x;
        return true;
    }

    bool optional_u64(const char* name, std::uint64_t& out) {
        std::optional<std::uint64_t> v;
        if (!optional_u64(name, v)) return false;
        if (v) out = *v;
        return true;
    }

    bool optional_f64(const char* name, std::optional<double>& out) {
        PyRef v;
        if (!get(name, v)) return false;
        if (!v) return true;
        double x = PyFloat_AsDouble(v.get());
        if (x == -1.0 && PyErr_Occurred())
            return replace_error("optional field " + quoted(name) + " must be a number");
        out = x;
        return true;
    }

    bool optional_f64(const char* name, double& out) {
        std::optional<double> v;
        if (!optional_f64(name, v)) return false;
        if (v) out = *v;
        return true;
    }

    bool optional_text(const char* name, std::optional<std::string>& out) {
        PyRef v;
        if (!get(name, v)) return false;
        if (!v) return true;
        std::string s;
        if (!py_to_text(v.get(), s)) return replace_error("optional field " + quoted(name) + " must be a string");
        out = std::move(s);
        return true;
    }

    bool optional_text(const char* name, std::string& out) {
        std::optional<std::string> v;
        if (!optional_text(name, v)) return false;
        if (v) out = std::move(*v);
        return true;
    }

    bool op(std::string& out) {
        PyRef v;
        if (!get("op", v)) return false;
        if (!v) return missing("op");
        if (!py_to_text(v.get(), out)) return replace_error(job_text() + " field " + quoted("op") + " must be a string");
        return true;
    }

    bool unknown_op(const std::string& op) {
        raise_value_error(job_text() + " has unknown op " + quoted(op));
        return false;
    }

private:
    std::string job_text() const { return "job " + std::to_string(index_); }
    bool missing(const char* name) {
        raise_value_error(job_text() + " missing " + quoted(name));
        return false;
    }

    PyObject* dict_;
    std::size_t index_;
};

bool read_job(JobReader& r, const std::string& op, ComputeJob& out) {
    if (op == "bfs") {
        BfsJob j;
        if (!r.required_u64("start", j.start) || !r.optional_text("direction", j.direction) ||
            !r.optional_text("edge_type", j.edge_type) || !r.optional_u64("max_depth", j.max_depth))
            return false;
        out = std::move(j);
    } else if (op == "shortest_path") {
        ShortestPathJob j;
        if (!r.required_u64("start", j.start) || !r.required_u64("target", j.target) ||
            !r.optional_text("direction", j.direction) || !r.optional_text("edge_type", j.edge_type) ||
            !r.optional_text("weight_property", j.weight_property))
            return false;
        out = std::move(j);
    } else if (op == "connected_components") {
        ConnectedComponentsJob j;
        if (!r.optional_text("edge_type", j.edge_type)) return false;
        out = std::move(j);
    } else if (op == "pagerank") {
        PageRankJob j;
        if (!r.optional_u64("iterations", j.iterations) || !r.optional_f64("damping", j.damping) ||
            !r.optional_f64("tolerance", j.tolerance) || !r.optional_text("edge_type", j.edge_type))
            return false;
        out = std::move(j);
    } else if (op == "random_walk") {
        RandomWalkJob j;
        if (!r.required_u64("start", j.start) || !r.required_u64("steps", j.steps) ||
            !r.optional_text("direction", j.direction) || !r.optional_text("edge_type", j.edge_type) ||
            !r.optional_u64("seed", j.seed))
            return false;
        out = std::move(j);
    } else if (op == "subgraph") {
        SubgraphJob j;
        if (!r.required_u64_list("nodes", j.nodes) || !r.optional_text("edge_type", j.edge_type)) return false;
        out = std::move(j);
    } else {
        return r.unknown_op(op);
    }
    return true;
}

}  // namespace

bool compute_jobs_from_py(PyObject* jobs, std::vector<ComputeJob>& out) {
    if (!PyList_Check(jobs)) {
        raise_value_error("compute_batch jobs must be a list");
        return false;
    }
    std::vector<ComputeJob> converted;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(jobs); ++i) {
        PyRef item = PyRef::steal(PyList_GetItemRef(jobs, i));
        if (!item) return false;
        auto index = static_cast<std::size_t>(i);
        if (!PyDict_Check(item.get())) {
            raise_value_error("job " + std::to_string(index) + " must be a dict");
            return false;
        }
        JobReader reader(item.get(), index);
        std::string op;
        ComputeJob job;
        if (!reader.op(op) || !read_job(reader, op, job)) return false;
        converted.push_back(std::move(job));
    }
    out = std::move(converted);
    return true;
}

}  // namespace qm::py
