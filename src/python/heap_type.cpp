#include "python/heap_type.hpp"

#include <cstring>

namespace vorn::py {

PyTypeObject* create_builtin_type(PyType_Spec& type_spec) {
    constexpr const char kPrefix[] = "builtins.";
    auto* type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&type_spec));
    if (type != nullptr && std::strncmp(type_spec.name, kPrefix, sizeof kPrefix - 1) == 0) {
        type->tp_name = type_spec.name + (sizeof kPrefix - 1);
    }
    return type;
}

}  // namespace vorn::py
