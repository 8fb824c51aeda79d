// The calling thread waits without the interpreter lock and takes it back
// only to run pending signal handlers, so Ctrl-C stops a long run.
#include <climits>

#include "native.hpp"

namespace vornkit::native {

bool run_released(std::size_t n_items, std::size_t chunk, std::size_t workers,
                  const vorn::collection::ChunkBody& body) {
    PyThreadState* state = PyEval_SaveThread();
    bool interrupted = false;
    auto should_stop = [&] {
        PyEval_RestoreThread(state);
        interrupted = PyErr_CheckSignals() != 0;
        state = PyEval_SaveThread();
        return interrupted;
    };
    try {
        vorn::collection::parallel_for(n_items, chunk, workers, body, should_stop);
    } catch (...) {
        PyEval_RestoreThread(state);
        throw;
    }
    PyEval_RestoreThread(state);
    return !interrupted;
}

bool convert_workers(PyObject* object, std::size_t& out) {
    vorn::py::PyRef index(PyNumber_Index(object));
    if (!index) return false;
    int overflow = 0;
    long workers = PyLong_AsLongAndOverflow(index.get(), &overflow);
    if (workers == -1 && PyErr_Occurred()) return false;
    if (overflow > 0) workers = LONG_MAX;  // more than any machine's cores: every core
    if (overflow < 0 || workers == 0 || workers < -1) {
        PyErr_Format(PyExc_ValueError, "workers must be a positive count or -1 for every core, not %S", index.get());
        return false;
    }
    out = vorn::collection::resolve_workers(workers);
    return true;
}

}  // namespace vornkit::native
