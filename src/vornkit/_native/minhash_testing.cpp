// Test entries of the MinHash permutation kernels:
//   _minhash_kernels() -> list of the kernels this processor runs, widest first
//   _minhash_lower(hashes, sig, kernel=None) -> None; lowers the uint64 array
//       sig in place by every permutation of the uint64 array hashes, as
//       minhash_signature does, with the given kernel (default: the fastest)
#include "algo/minhash_kernels.hpp"
#include "dedup_native.hpp"
#include "kernel_names.hpp"
#include "native.hpp"

namespace vornkit::native {
namespace {

namespace minhash = vorn::algo::minhash;

PyObject* minhash_kernels(PyObject*, PyObject*) { return supported_kernel_names<minhash::Kernel>(minhash::supported); }

PyObject* minhash_lower(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"hashes", "sig", "kernel", nullptr};
    PyObject *hashes_object, *sig_object, *kernel_name = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|O", const_cast<char**>(keywords), &hashes_object, &sig_object,
                                     &kernel_name))
        return nullptr;
    minhash::Kernel kernel;
    Buffer hashes, sig;
    if (!parse_kernel_name(kernel_name, "kernel", minhash::best_kernel(), minhash::supported, kernel) ||
        !hashes.get(hashes_object, false, 8, "hashes") || !sig.get(sig_object, true, 8, "sig"))
        return nullptr;
    minhash::lower(kernel, hashes.span<std::uint64_t>(), sig.mutable_span<std::uint64_t>());
    Py_RETURN_NONE;
}

}  // namespace

PyMethodDef minhash_testing_methods[] = {
    {"_minhash_kernels", minhash_kernels, METH_NOARGS, "MinHash permutation kernels this processor runs."},
    {"_minhash_lower", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(minhash_lower)),
     METH_VARARGS | METH_KEYWORDS, "MinHash permutations by a chosen kernel (tests and benchmarks)."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace vornkit::native
