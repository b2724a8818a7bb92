// A Finder holds its needle as an immutable `bytes` object and whether it
// ignores case, so one Finder serves any number of threads at once;
// pickling it pickles both.
#include "finder.hpp"

#include <vector>

#include "boundary.hpp"
#include "call.hpp"
#include "messages.hpp"
#include "offset_iterator.hpp"
#include "parameters.hpp"
#include "searches.hpp"
#include "type_objects.hpp"

namespace qarvo::py {
namespace {

struct FinderObject {
    PyObject_HEAD PyObject* needle;  // an exact bytes object, owned
    bool ignore_case;
    bool folds;  // ignore_case, and the needle holds a letter (has_ascii_letter)
};

bool ignores_case(PyObject* self) noexcept {
    return reinterpret_cast<FinderObject*>(self)->ignore_case;
}

ByteRange needle_of(PyObject* self) noexcept {
    PyObject* needle = reinterpret_cast<FinderObject*>(self)->needle;
    return ByteRange{reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(needle)),
                     static_cast<std::size_t>(PyBytes_GET_SIZE(needle))};
}

constexpr const char* kFinderNewNames[] = {"needle", "ignore_case"};
constexpr Signature kFinderNew{"Finder()", kFinderNewNames, 1, 1};

Result<OwnedRef> new_finder(PyTypeObject* type, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    Result<Bound> bound = bind(kFinderNew, args, nargs, kwnames);
    if (!bound) {
        return std::move(bound).error();
    }
    Result<bool> ignore_case = truth_of(bound.value()[1]);
    if (!ignore_case) {
        return std::move(ignore_case).error();
    }
    Result<std::vector<std::uint8_t>> needle = copy_needle(bound.value()[0]);
    if (!needle) {
        return std::move(needle).error();
    }
    const std::vector<std::uint8_t>& bytes = needle.value();
    OwnedRef stored = OwnedRef::steal(PyBytes_FromStringAndSize(
        reinterpret_cast<const char*>(bytes.data()), static_cast<Py_ssize_t>(bytes.size())));
    if (!stored) {
        return fetch_error();
    }
    OwnedRef finder = OwnedRef::steal(type->tp_alloc(type, 0));
    if (!finder) {
        return fetch_error();
    }
    reinterpret_cast<FinderObject*>(finder.get())->needle = stored.release();
    reinterpret_cast<FinderObject*>(finder.get())->ignore_case = ignore_case.value();
    reinterpret_cast<FinderObject*>(finder.get())->folds =
        ignore_case.value() && has_ascii_letter(ByteRange{bytes.data(), bytes.size()});
    return finder;
}

// Finder(...) as the interpreter calls a type: a tuple and a dict, turned
// into the fast-call form the binder reads.
PyObject* finder_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
    return run_boundary([=]() -> Result<OwnedRef> {
        std::vector<PyObject*> flat(&PyTuple_GET_ITEM(args, 0),
                                    &PyTuple_GET_ITEM(args, 0) + PyTuple_GET_SIZE(args));
        OwnedRef names;
        if (kwargs != nullptr && PyDict_Size(kwargs) > 0) {
            names = OwnedRef::steal(PyTuple_New(PyDict_Size(kwargs)));
            if (!names) {
                return fetch_error();
            }
            Py_ssize_t position = 0;
            Py_ssize_t k = 0;
            PyObject* key = nullptr;
            PyObject* value = nullptr;
            while (PyDict_Next(kwargs, &position, &key, &value)) {
                PyTuple_SET_ITEM(names.get(), k++, Py_NewRef(key));
                flat.push_back(value);
            }
        }
        return new_finder(type, flat.data(), PyTuple_GET_SIZE(args), names.get());
    });
}

void finder_dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    Py_XDECREF(reinterpret_cast<FinderObject*>(self)->needle);
    type->tp_free(self);
    Py_DECREF(type);
}

constexpr const char* kFinderFindNames[] = {"haystack", "start", "end"};
constexpr const char* kFinderMatchesNames[] = {"haystack", "start", "end", "overlapping"};

template <Query kQuery>
constexpr Signature method_signature(const char* display) {
    if constexpr (kQuery == Query::find || kQuery == Query::rfind) {
        return Signature{display, kFinderFindNames, 1, 3, 1};
    } else {
        return Signature{display, kFinderMatchesNames, 1, 3, 1};
    }
}

template <Query kQuery>
constexpr const char* kFinderDisplay = "";
template <>
constexpr const char* kFinderDisplay<Query::find> = "Finder.find()";
template <>
constexpr const char* kFinderDisplay<Query::rfind> = "Finder.rfind()";
template <>
constexpr const char* kFinderDisplay<Query::count> = "Finder.count()";
template <>
constexpr const char* kFinderDisplay<Query::finditer> = "Finder.finditer()";
template <>
constexpr const char* kFinderDisplay<Query::find_all> = "Finder.find_all()";

template <Query kQuery>
Result<OwnedRef> method_body(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    static constexpr Signature kSignature = method_signature<kQuery>(kFinderDisplay<kQuery>);
    Result<Bound> bound = bind(kSignature, args, nargs, kwnames);
    if (!bound) {
        return std::move(bound).error();
    }
    const Bound& given = bound.value();
    Result<bool> overlapping = truth_of(given[3]);
    if (!overlapping) {
        return std::move(overlapping).error();
    }
    // `folds`, not `ignore_case`: a needle without a letter was found to be
    // searched exactly once, when the Finder was made.
    const Matching matching{overlapping.value(), reinterpret_cast<FinderObject*>(self)->folds};
    // The needle object stays alive with the Finder, which the caller holds.
    const ByteRange needle = needle_of(self);
    if constexpr (kQuery == Query::finditer) {
        return make_offset_iterator(given[0], given[1], given[2], nullptr, needle, matching);
    } else {
        ByteView haystack;
        if (Status acquired = acquire_haystack(given[0], haystack); !acquired) {
            return std::move(acquired).error();
        }
        Result<Window> window = window_of(given[1], given[2], haystack.bytes().size);
        if (!window) {
            return std::move(window).error();
        }
        Result<OwnedRef> result =
            answer(kQuery, haystack.bytes(), window.value(), needle, matching);
        haystack.release();
        return result;
    }
}

// The plain call of find and rfind: finder.find(haystack) with the haystack
// read in place and a range short enough to keep the lock.
template <bool kReverse>
[[gnu::always_inline]] inline bool plain_method(PyObject* self, PyObject* const* args,
                                                Py_ssize_t nargs, PyObject* kwnames,
                                                SearchResult& found) noexcept {
    ByteRange haystack;
    if (nargs != 1 || kwnames != nullptr || !haystack_in_place(args[0], haystack) ||
        haystack.size >= kUnlockedFrom) [[unlikely]] {
        return false;
    }
    const ByteRange needle = needle_of(self);
    if (needle.size > haystack.size) {
        found = SearchResult::not_found();
    } else if (reinterpret_cast<FinderObject*>(self)->folds) {
        found = kReverse ? rfind_folded(haystack, needle) : find_folded(haystack, needle);
    } else {
        found = kReverse ? rfind_n(haystack, needle) : find_n(haystack, needle);
    }
    return true;
}

template <Query kQuery>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) noexcept {
    if constexpr (kQuery == Query::find || kQuery == Query::rfind) {
        SearchResult found = SearchResult::not_found();
        if (deferred_count.load(std::memory_order_acquire) == 0 &&
            plain_method<kQuery == Query::rfind>(self, args, nargs, kwnames, found)) [[likely]] {
            if (PyObject* kept = kept_result(found)) [[likely]] {
                return kept;
            }
            return run_boxing(found.offset());
        }
    }
    return run_boundary([=] { return method_body<kQuery>(self, args, nargs, kwnames); });
}

PyObject* finder_reduce(PyObject* self, PyObject* /*unused*/) noexcept {
    return run_boundary([self] {
        return reduce_with_ignore_case(self, reinterpret_cast<FinderObject*>(self)->needle,
                                       ignores_case(self));
    });
}

PyObject* finder_repr(PyObject* self) noexcept {
    PyObject* needle = reinterpret_cast<FinderObject*>(self)->needle;
    if (ignores_case(self)) {
        return PyUnicode_FromFormat("qarvo.Finder(%R, ignore_case=True)", needle);
    }
    return PyUnicode_FromFormat("qarvo.Finder(%R)", needle);
}

PyObject* finder_ignore_case(PyObject* self, void* /*closure*/) noexcept {
    return Py_NewRef(ignores_case(self) ? Py_True : Py_False);
}

PyObject* finder_needle(PyObject* self, void* /*closure*/) noexcept {
    return Py_NewRef(reinterpret_cast<FinderObject*>(self)->needle);
}

PyMethodDef finder_methods[] = {
    fastcall_method("find", &method_entry<Query::find>, messages::kFinderFindDoc),
    fastcall_method("rfind", &method_entry<Query::rfind>, messages::kFinderRfindDoc),
    fastcall_method("count", &method_entry<Query::count>, messages::kFinderCountDoc),
    fastcall_method("finditer", &method_entry<Query::finditer>, messages::kFinderFinditerDoc),
    fastcall_method("find_all", &method_entry<Query::find_all>, messages::kFinderFindAllDoc),
    {.ml_name = "__reduce__",
     .ml_meth = &finder_reduce,
     .ml_flags = METH_NOARGS,
     .ml_doc = messages::kFinderReduceDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef finder_getset[] = {
    {.name = "needle",
     .get = &finder_needle,
     .set = nullptr,
     .doc = messages::kFinderNeedleDoc,
     .closure = nullptr},
    {.name = "ignore_case",
     .get = &finder_ignore_case,
     .set = nullptr,
     .doc = messages::kFinderIgnoreCaseDoc,
     .closure = nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot finder_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&finder_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&finder_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(&finder_repr)},
    {Py_tp_methods, finder_methods},
    {Py_tp_getset, finder_getset},
    {Py_tp_doc, const_cast<char*>(messages::kFinderDoc)},
    {0, nullptr},
};

PyType_Spec finder_spec = {
    .name = "qarvo.Finder",
    .basicsize = static_cast<int>(sizeof(FinderObject)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    .slots = finder_slots,
};

LazyType finder_lazy_type{finder_spec};

}  // namespace

Result<PyObject*> finder_type() {
    Result<PyTypeObject*> type = finder_lazy_type.get();
    if (!type) {
        return std::move(type).error();
    }
    return reinterpret_cast<PyObject*>(type.value());
}

}  // namespace qarvo::py
