// Module initialisation: the module object and its two classes, created once
// per process, and the private module behind the submodules.
#include "boundary.h"
#include "native_module.h"

namespace {

using mirelo::Board;
using mirelo::MoveGenerator;
using mirelo::py::type_object;

PyModuleDef MODULE_DEF = {PyModuleDef_HEAD_INIT, "mirelo_chess", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr};

// Appends the name to __all__ and sets the attribute.
int add_class(PyObject* module, const char* name, PyTypeObject* type) {
    if (type == nullptr) return -1;
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (all == nullptr) {
        PyErr_Clear();
        all = PyList_New(0);
        if (all == nullptr || PyObject_SetAttrString(module, "__all__", all) < 0) {
            Py_XDECREF(all);
            return -1;
        }
    }
    PyObject* py_name = PyUnicode_FromString(name);
    const int appended = py_name == nullptr ? -1 : PyList_Append(all, py_name);
    Py_XDECREF(py_name);
    Py_DECREF(all);
    if (appended < 0) return -1;
    return PyObject_SetAttrString(module, name, reinterpret_cast<PyObject*>(type));
}

}  // namespace

PyMODINIT_FUNC PyInit_mirelo_chess() {
    static PyObject* module = nullptr;
    if (module != nullptr) {
        Py_INCREF(module);
        return module;
    }
    PyObject* created = PyModule_Create(&MODULE_DEF);
    if (created == nullptr) return nullptr;
#ifdef PYPY_VERSION
    // PyPy skips an empty m_doc, so the module type's own docstring would show
    // through; store the empty one explicitly.
    if (mirelo::py::set_empty_doc(created) < 0) {
        Py_DECREF(created);
        return nullptr;
    }
#endif
    if (add_class(created, "Board", type_object<Board>()) < 0 ||
        add_class(created, "MoveGenerator", type_object<MoveGenerator>()) < 0 ||
        mirelo::py::register_native_module() < 0) {
        Py_DECREF(created);
        return nullptr;
    }
    module = created;
    Py_INCREF(module);
    return module;
}
