// compute_batch job dictionaries to ComputeJob values.
//
// A job is an algorithm method's arguments written as a dict, so its fields are read with
// that method's own parameter declarations (algorithm_params.hpp): the same names, order,
// conversions and defaults. Every job is converted before any runs, and the first problem
// ends the call. Reading a field may run the caller's Python code (__index__, __float__, a
// sequence's __getitem__), which may even change the job list or a dict, so every object is
// held by a strong reference while it is read and the list length is re-read on each turn.
#include <string_view>

#include "py_api/algorithm_params.hpp"
#include "py_api/binding_messages.hpp"
#include "py_api/errors.hpp"

namespace qm::py {

namespace {

// The wording of a job's field failures.
struct JobMessages {
    std::size_t index;
    bool missing(std::string_view field) const {
        raise_value_error(msg::job_missing(index, field));
        return false;
    }
    std::string mismatch(std::string_view field, std::string_view noun, bool required) const {
        return required ? msg::job_field_type(index, field, noun) : msg::optional_field_type(field, noun);
    }
};

template <class Args>
bool read_job_as(PyObject* dict, const JobMessages& m, ComputeJob& out) {
    Args args{};
    if (!read_fields(dict, args, m)) return false;
    out = static_cast<typename Args::Job&&>(args);
    return true;
}

struct OpReader {
    std::string_view op;
    bool (*read)(PyObject* dict, const JobMessages& m, ComputeJob& out);
};

// One line per op; each job kind reads like its method.
constexpr OpReader kOps[] = {
    {"bfs", read_job_as<BfsArgs>},
    {"shortest_path", read_job_as<ShortestPathArgs>},
    {"connected_components", read_job_as<ConnectedComponentsArgs>},
    {"pagerank", read_job_as<PageRankArgs>},
    {"random_walk", read_job_as<RandomWalkArgs>},
    {"subgraph", read_job_as<SubgraphArgs>},
};

struct OpArgs {
    std::string op;
    static constexpr auto params = declare(param("op", &OpArgs::op));
};

bool read_job(PyObject* dict, std::size_t index, ComputeJob& out) {
    JobMessages m{index};
    OpArgs op;
    if (!read_fields(dict, op, m)) return false;
    for (const OpReader& r : kOps)
        if (r.op == op.op) return r.read(dict, m, out);
    raise_value_error(msg::job_unknown_op(index, op.op));
    return false;
}

}  // namespace

bool compute_jobs_from_py(PyObject* jobs, std::vector<ComputeJob>& out) {
    if (!PyList_Check(jobs)) {
        raise_value_error(msg::kJobsNotList);
        return false;
    }
    std::vector<ComputeJob> converted;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(jobs); ++i) {
        PyRef item = PyRef::steal(PyList_GetItemRef(jobs, i));
        if (!item) return false;
        auto index = static_cast<std::size_t>(i);
        if (!PyDict_Check(item.get())) {
            raise_value_error(msg::job_not_dict(index));
            return false;
        }
        ComputeJob job;
        if (!read_job(item.get(), index, job)) return false;
        converted.push_back(std::move(job));
    }
    out = std::move(converted);
    return true;
}

}  // namespace qm::py
