#include "debug_render.hpp"

#include <cstdio>
#include <string_view>

#include "interned.hpp"
#include "lock.hpp"
#include "text.hpp"

namespace qarvo::py {
namespace {

// Backslash-escaped, double-quoted text.
std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') {
                    char escape[16];
                    std::snprintf(escape, sizeof escape, "\\u{%x}", static_cast<unsigned>(c));
                    out += escape;
                } else {
                    out += c;
                }
        }
    }
    return out + "\"";
}

// The traceback as the interpreter prints it, through io.StringIO.
std::string format_traceback(PyObject* traceback) {
    OwnedRef io = OwnedRef::steal(PyImport_Import(intern_name("io")));
    OwnedRef buffer;
    OwnedRef value;
    if (io) {
        OwnedRef string_io = OwnedRef::steal(PyObject_GetAttr(io.get(), intern_name("StringIO")));
        if (string_io) {
            buffer = OwnedRef::steal(PyObject_CallNoArgs(string_io.get()));
        }
    }
    if (buffer && PyTraceBack_Print(traceback, buffer.get()) == 0) {
        OwnedRef getvalue =
            OwnedRef::steal(PyObject_GetAttr(buffer.get(), intern_name("getvalue")));
        if (getvalue) {
            value = OwnedRef::steal(PyObject_CallNoArgs(getvalue.get()));
            if (value && !PyUnicode_Check(value.get())) {
                PyErr_Format(PyExc_TypeError, "StringIO.getvalue() returned %.200s, not str",
                             Py_TYPE(value.get())->tp_name);
                value.reset();
            }
        }
    }
    if (!value) {
        PyErr_WriteUnraisable(traceback);
        return "<unformattable " + repr_text(traceback) + ">";
    }
    return utf8_lossy(value.get());
}

}  // namespace

std::string debug_render(PendingError& error) {
    LockTaken lock;
    PyObject* exception = normalize_error(error);
    std::string traceback_text = "None";
    if (OwnedRef traceback = OwnedRef::steal(PyException_GetTraceback(exception))) {
        traceback_text = "Some(" + quoted(format_traceback(traceback.get())) + ")";
    }
    return "PyErr { type: " + repr_text(reinterpret_cast<PyObject*>(Py_TYPE(exception))) +
           ", value: " + repr_text(exception) + ", traceback: " + traceback_text + " }";
}

}  // namespace qarvo::py
