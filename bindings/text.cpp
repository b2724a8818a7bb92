#include "text.hpp"

#include "py.hpp"

namespace qarvo::py {
namespace {

std::string unprintable(PyObject* object) {
    OwnedRef name = OwnedRef::steal(PyType_GetName(Py_TYPE(object)));
    if (name) {
        Py_ssize_t size = 0;
        if (const char* data = PyUnicode_AsUTF8AndSize(name.get(), &size)) {
            return "<unprintable " + std::string(data, static_cast<std::size_t>(size)) + " object>";
        }
    }
    PyErr_Clear();
    return "<unprintable object>";
}

// Renders the result of str() or repr(); NULL means that call failed.
std::string rendered_or_unprintable(OwnedRef rendered, PyObject* object) {
    if (!rendered) {
        PyErr_WriteUnraisable(object);
        return unprintable(object);
    }
    return utf8_lossy(rendered.get());
}

}  // namespace

std::string utf8_lossy(PyObject* text) {
    Py_ssize_t size = 0;
    if (const char* data = PyUnicode_AsUTF8AndSize(text, &size)) {
        return std::string(data, static_cast<std::size_t>(size));
    }
    PyErr_Clear();
    OwnedRef raw = OwnedRef::steal(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
    if (raw) {
        OwnedRef repaired = OwnedRef::steal(PyUnicode_DecodeUTF8(
            PyBytes_AS_STRING(raw.get()), PyBytes_GET_SIZE(raw.get()), "replace"));
        if (repaired) {
            if (const char* data = PyUnicode_AsUTF8AndSize(repaired.get(), &size)) {
                return std::string(data, static_cast<std::size_t>(size));
            }
        }
    }
    PyErr_Clear();
    return "\xEF\xBF\xBD";
}

std::string display_text(PyObject* object) {
    return rendered_or_unprintable(OwnedRef::steal(PyObject_Str(object)), object);
}

std::string repr_text(PyObject* object) {
    return rendered_or_unprintable(OwnedRef::steal(PyObject_Repr(object)), object);
}

std::string type_qualname_text(PyObject* object) {
    OwnedRef name = OwnedRef::steal(PyType_GetQualName(Py_TYPE(object)));
    if (name) {
        Py_ssize_t size = 0;
        if (const char* data = PyUnicode_AsUTF8AndSize(name.get(), &size)) {
            return std::string(data, static_cast<std::size_t>(size));
        }
    }
    PyErr_Clear();
    return "<failed to extract type name>";
}

}  // namespace qarvo::py
