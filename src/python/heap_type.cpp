#include "python/heap_type.hpp"

#include <cstring>

namespace vorn::py {

PyTypeObject* create_builtin_type(PyType_Spec& spec) {
    constexpr const char kPrefix[] = "builtins.";
    auto* type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
    if (type != nullptr && std::strncmp(spec.name, kPrefix, sizeof kPrefix - 1) == 0) {
        type->tp_name = spec.name + (sizeof kPrefix - 1);
    }
    return type;
}

}  // namespace vorn::py
