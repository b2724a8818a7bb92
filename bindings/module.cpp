// The module definition and its initialisation export, PyInit_qarvo.
//
// Single-phase initialisation: the module is built once per process and
// every later call of the export returns that same object. Only the first
// interpreter that imports it may use it; any other is refused.
#include "module.hpp"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "boundary.hpp"
#include "byte_sets.hpp"
#include "call.hpp"
#include "debug_render.hpp"
#include "fault.hpp"
#include "finder.hpp"
#include "interned.hpp"
#include "messages.hpp"
#include "multi_finder.hpp"
#include "qarvo/backend.hpp"
#include "searches.hpp"

namespace qarvo::py {
namespace {

static_assert(PYTHON_API_VERSION == 1013);

// One function of the module. The interpreter calls METH_FASTCALL |
// METH_KEYWORDS entries through FastcallEntry's signature; PyMethodDef
// stores them as PyCFunction.
PyMethodDef function_record(const char* name, FastcallEntry entry, const char* doc) {
    return {.ml_name = name,
            .ml_meth = reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(entry)),
            .ml_flags = METH_FASTCALL | METH_KEYWORDS,
            .ml_doc = doc};
}
static_assert((METH_FASTCALL | METH_KEYWORDS) == 130);

// Static: the function objects point at these records for the rest of the
// process.
PyMethodDef function_records[] = {
    function_record("search_one", search_one_entry, messages::kSearchOneDoc),
    function_record("search_two", search_two_entry, messages::kSearchTwoDoc),
    function_record("search_three", search_three_entry, messages::kSearchThreeDoc),
    function_record("search_n", search_n_entry, messages::kSearchNDoc),
};

// The searches beyond the first occurrence, added after __version__.
PyMethodDef search_records[] = {
    function_record("find", find_entry, messages::kFindDoc),
    function_record("rfind", rfind_entry, messages::kRfindDoc),
    function_record("count", count_entry, messages::kCountDoc),
    function_record("finditer", finditer_entry, messages::kFinditerDoc),
    function_record("find_all", find_all_entry, messages::kFindAllDoc),
};

// The byte-set searches, after the Finder type.
PyMethodDef byte_set_records[] = {
    function_record("find_any", find_any_entry, messages::kFindAnyDoc),
    function_record("rfind_any", rfind_any_entry, messages::kRfindAnyDoc),
    function_record("find_not_any", find_not_any_entry, messages::kFindNotAnyDoc),
    function_record("rfind_not_any", rfind_not_any_entry, messages::kRfindNotAnyDoc),
};

PyModuleDef module_definition = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "qarvo",
    .m_doc = "",           // an empty str, so __doc__ is "" rather than None
    .m_size = 0,           // no per-module state
    .m_methods = nullptr,  // the functions are added by populate_module
    .m_slots = nullptr,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

constexpr const char* kVersion = "1.0.1";

// ID of the first interpreter that called the export; -1 until then.
std::atomic<std::int64_t> initialized_interpreter{-1};

// One strong reference to the module once it is built; never released.
std::once_flag module_once;
std::atomic<PyObject*> module_cell{nullptr};

Result<OwnedRef> initialize() {
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) {
        return fetch_error();
    }
    std::int64_t recorded = -1;
    if (!initialized_interpreter.compare_exchange_strong(recorded, id, std::memory_order_seq_cst) &&
        recorded != id) {
        return PendingError::lazy(exception_type::import_error, messages::kSubinterpreterRefusal);
    }
    if (PyObject* built = module_cell.load(std::memory_order_acquire)) {
        return OwnedRef::borrow(built);
    }
    // A QARVO_BACKEND that names no variant this process runs fails the
    // import, before a search could stop the process over it; otherwise the
    // variant is fixed now, so a later change of the variable cannot matter.
    char refusal[256];
    if (const std::string_view why = backend_refusal(refusal); !why.empty()) {
        return PendingError::lazy(exception_type::import_error, std::string(why));
    }
    (void)active_routines();
    OwnedRef module = OwnedRef::steal(PyModule_Create2(&module_definition, PYTHON_API_VERSION));
    if (!module) {
        return fetch_error();
    }
    if (Status populated = populate_module(module.get()); !populated) {
        return std::move(populated).error();
    }
    // Another initialisation can only have finished first if populating the
    // module let other threads run; then its module is the one that stays.
    std::call_once(module_once,
                   [&module] { module_cell.store(module.release(), std::memory_order_release); });
    return OwnedRef::borrow(module_cell.load(std::memory_order_acquire));
}

}  // namespace

Status populate_module(PyObject* module) {
    for (PyMethodDef& record : function_records) {
        if (Status added = add_function(module, &record); !added) {
            return added;
        }
    }
    OwnedRef name = OwnedRef::steal(PyUnicode_FromString("__version__"));
    OwnedRef version = OwnedRef::steal(PyUnicode_FromString(kVersion));
    if (!name || !version) {
        api_call_failed();
    }
    if (Status added = add_member(module, name.get(), version.get()); !added) {
        return added;
    }
    for (PyMethodDef& record : search_records) {
        if (Status added = add_function(module, &record); !added) {
            return added;
        }
    }
    Result<PyObject*> finder = finder_type();
    if (!finder) {
        return std::move(finder).error();
    }
    OwnedRef finder_name = OwnedRef::steal(PyUnicode_FromString("Finder"));
    if (!finder_name) {
        api_call_failed();
    }
    if (Status added = add_member(module, finder_name.get(), finder.value()); !added) {
        return added;
    }
    for (PyMethodDef& record : byte_set_records) {
        if (Status added = add_function(module, &record); !added) {
            return added;
        }
    }
    Result<PyObject*> multi_finder = multi_finder_type();
    if (!multi_finder) {
        return std::move(multi_finder).error();
    }
    OwnedRef multi_finder_name = OwnedRef::steal(PyUnicode_FromString("MultiFinder"));
    if (!multi_finder_name) {
        api_call_failed();
    }
    if (Status added = add_member(module, multi_finder_name.get(), multi_finder.value()); !added) {
        return added;
    }
    return success();
}

Status add_function(PyObject* module, PyMethodDef* record) {
    OwnedRef module_name = OwnedRef::steal(PyModule_GetNameObject(module));
    if (!module_name) {
        return fetch_error();
    }
    OwnedRef function = OwnedRef::steal(PyCMethod_New(record, module, module_name.get(), nullptr));
    module_name.reset();
    if (!function) {
        return fetch_error();
    }
    OwnedRef name = OwnedRef::steal(PyObject_GetAttr(function.get(), intern_name("__name__")));
    if (!name) {
        return fetch_error();
    }
    if (!PyUnicode_Check(name.get())) {
        return conversion_failure(name.get(), messages::kPyString);
    }
    return add_member(module, name.get(), function.get());
}

Status add_member(PyObject* module, PyObject* name, PyObject* value) {
    OwnedRef all = OwnedRef::steal(PyObject_GetAttr(module, intern_name("__all__")));
    if (all && !PyList_Check(all.get())) {
        return conversion_failure(all.get(), messages::kPyList);
    }
    if (!all) {
        PendingError lookup_error = fetch_error();
        if (!PyErr_GivenExceptionMatches(normalize_error(lookup_error), PyExc_AttributeError)) {
            return lookup_error;
        }
        all = OwnedRef::steal(PyList_New(0));
        if (!all) {
            api_call_failed();
        }
        if (PyObject_SetAttr(module, intern_name("__all__"), all.get()) != 0) {
            return fetch_error();
        }
    }
    if (PyList_Append(all.get(), name) != 0) {
        PendingError append_error = fetch_error();
        raise_fault(messages::kAppendToAllFailed + debug_render(append_error));
    }
    all.reset();
    if (PyObject_SetAttr(module, name, value) != 0) {
        return fetch_error();
    }
    return success();
}

}  // namespace qarvo::py

PyMODINIT_FUNC PyInit_qarvo() {
    return qarvo::py::run_boundary(qarvo::py::initialize);
}
