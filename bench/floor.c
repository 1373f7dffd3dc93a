/*
 * _mirelo_floor: the cheapest native code that does the same Python-visible
 * work as the library's hot calls.  The benchmark divides the library's time
 * by these to show how much is left above the interpreter's own cost.
 *
 *   noargs()        empty METH_NOARGS method (like Board.pop)
 *   onearg(x)       empty METH_FASTCALL|METH_KEYWORDS method taking one
 *                   argument (like Board.push)
 *   str_list(lst)   new list of NEW str objects with the same ASCII contents
 *                   (what a move-list call has to hand back)
 *   bool_planes()   12 new lists of 64 shared True/False refs from a fixed
 *                   768-byte block (what Board.bitboard has to hand back)
 */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <string.h>

static PyObject *
floor_noargs(PyObject *self, PyObject *Py_UNUSED(ignored))
{
    Py_RETURN_NONE;
}

static PyObject *
floor_onearg(PyObject *self, PyObject *const *args, Py_ssize_t nargs,
             PyObject *kwnames)
{
    Py_ssize_t nkw = kwnames == NULL ? 0 : PyTuple_GET_SIZE(kwnames);
    if (nargs + nkw != 1) {
        PyErr_SetString(PyExc_TypeError, "onearg() takes exactly one argument");
        return NULL;
    }
    Py_RETURN_NONE;
}

static PyObject *
floor_str_list(PyObject *self, PyObject *arg)
{
    if (!PyList_Check(arg)) {
        PyErr_SetString(PyExc_TypeError, "str_list() expects a list of str");
        return NULL;
    }
    Py_ssize_t n = PyList_GET_SIZE(arg);
    PyObject *out = PyList_New(n);
    if (out == NULL)
        return NULL;
    for (Py_ssize_t i = 0; i < n; i++) {
        PyObject *s = PyList_GET_ITEM(arg, i);
        if (!PyUnicode_Check(s) || !PyUnicode_IS_ASCII(s)) {
            Py_DECREF(out);
            PyErr_SetString(PyExc_TypeError, "str_list() expects ASCII str items");
            return NULL;
        }
        Py_ssize_t len = PyUnicode_GET_LENGTH(s);
        PyObject *copy = PyUnicode_New(len, 127);
        if (copy == NULL) {
            Py_DECREF(out);
            return NULL;
        }
        memcpy(PyUnicode_DATA(copy), PyUnicode_DATA(s), (size_t)len);
        PyList_SET_ITEM(out, i, copy);
    }
    return out;
}

/* Start-position planes, plane-major, square-minor. */
static unsigned char planes_block[12 * 64];

static void
fill_planes_block(void)
{
    static const unsigned long long start[12] = {
        0x000000000000FF00ULL, 0x0000000000000042ULL, 0x0000000000000024ULL,
        0x0000000000000081ULL, 0x0000000000000008ULL, 0x0000000000000010ULL,
        0x00FF000000000000ULL, 0x4200000000000000ULL, 0x2400000000000000ULL,
        0x8100000000000000ULL, 0x0800000000000000ULL, 0x1000000000000000ULL,
    };
    for (int i = 0; i < 12; i++)
        for (int j = 0; j < 64; j++)
            planes_block[64 * i + j] = (unsigned char)((start[i] >> j) & 1);
}

static PyObject *
floor_bool_planes(PyObject *self, PyObject *Py_UNUSED(ignored))
{
    PyObject *outer = PyList_New(12);
    if (outer == NULL)
        return NULL;
    for (Py_ssize_t i = 0; i < 12; i++) {
        PyObject *plane = PyList_New(64);
        if (plane == NULL) {
            Py_DECREF(outer);
            return NULL;
        }
        const unsigned char *row = planes_block + 64 * i;
        for (Py_ssize_t j = 0; j < 64; j++) {
            PyObject *flag = row[j] ? Py_True : Py_False;
            Py_INCREF(flag);
            PyList_SET_ITEM(plane, j, flag);
        }
        PyList_SET_ITEM(outer, i, plane);
    }
    return outer;
}

static PyMethodDef floor_methods[] = {
    {"noargs", floor_noargs, METH_NOARGS, "Do nothing (no arguments)."},
    {"onearg", (PyCFunction)(void (*)(void))floor_onearg,
     METH_FASTCALL | METH_KEYWORDS, "Do nothing (one argument)."},
    {"str_list", floor_str_list, METH_O,
     "Return a new list of new str objects equal to the given ones."},
    {"bool_planes", floor_bool_planes, METH_NOARGS,
     "Return 12 new lists of 64 bools from a fixed block."},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef floor_module = {
    PyModuleDef_HEAD_INIT, "_mirelo_floor",
    "Native floors for the mirelo_chess benchmarks.", 0, floor_methods,
    NULL, NULL, NULL, NULL,
};

PyMODINIT_FUNC
PyInit__mirelo_floor(void)
{
    fill_planes_block();
    return PyModule_Create(&floor_module);
}
