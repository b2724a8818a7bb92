// A MultiFinder holds its needles as a tuple of bytes and the automaton the
// core built from them in memory of its own (PyMem), both immutable, so one
// MultiFinder serves any number of threads at once; pickling it pickles the
// needles and the flag, and unpickling builds the automaton again.
#include "multi_finder.hpp"

#include <array>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "boundary.hpp"
#include "call.hpp"
#include "messages.hpp"
#include "parameters.hpp"
#include "qarvo/multi.hpp"
#include "searches.hpp"
#include "type_objects.hpp"

namespace qarvo::py {
namespace {

struct MultiFinderObject {
    PyObject_HEAD PyObject* needles;  // a tuple of exact bytes objects, owned
    void* memory;                     // PyMem: the automaton and its tables
    const MultiAutomaton* automaton;
    bool ignore_case;
};

MultiFinderObject& finder_of(PyObject* self) noexcept {
    return *reinterpret_cast<MultiFinderObject*>(self);
}

// The needles as bytes, refusing a lone needle given where the sequence
// belongs: iterating b"ab" would give the needles 97 and 98.
Result<OwnedRef> needles_tuple(PyObject* needles) {
    if (PyUnicode_Check(needles) || PyObject_CheckBuffer(needles) || PyIndex_Check(needles)) {
        return PendingError::lazy(
            exception_type::type_error,
            std::string(messages::kNeedlesNotIterable) + Py_TYPE(needles)->tp_name + "'");
    }
    OwnedRef iterator = OwnedRef::steal(PyObject_GetIter(needles));
    if (!iterator) {
        return fetch_error();
    }
    OwnedRef list = OwnedRef::steal(PyList_New(0));
    if (!list) {
        return fetch_error();
    }
    for (;;) {
        OwnedRef item = OwnedRef::steal(PyIter_Next(iterator.get()));
        if (!item) {
            if (PyErr_Occurred() != nullptr) {
                return fetch_error();
            }
            break;
        }
        Result<std::vector<std::uint8_t>> bytes = copy_needle(item.get());
        if (!bytes) {
            return std::move(bytes).error();
        }
        OwnedRef stored = OwnedRef::steal(
            PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.value().data()),
                                      static_cast<Py_ssize_t>(bytes.value().size())));
        if (!stored || PyList_Append(list.get(), stored.get()) != 0) {
            return fetch_error();
        }
    }
    if (PyList_GET_SIZE(list.get()) == 0) {
        return PendingError::lazy(exception_type::value_error, messages::kNoNeedles);
    }
    OwnedRef tuple = OwnedRef::steal(PyList_AsTuple(list.get()));
    if (!tuple) {
        return fetch_error();
    }
    return tuple;
}

constexpr const char* kMultiNewNames[] = {"needles", "ignore_case"};
constexpr Signature kMultiNew{"MultiFinder()", kMultiNewNames, 1, 1};

Result<OwnedRef> new_multi_finder(PyTypeObject* type, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    Result<Bound> bound = bind(kMultiNew, args, nargs, kwnames);
    if (!bound) {
        return std::move(bound).error();
    }
    Result<bool> ignore_case = truth_of(bound.value()[1]);
    if (!ignore_case) {
        return std::move(ignore_case).error();
    }
    Result<OwnedRef> needles = needles_tuple(bound.value()[0]);
    if (!needles) {
        return std::move(needles).error();
    }
    PyObject* tuple = needles.value().get();
    const auto count = static_cast<std::size_t>(PyTuple_GET_SIZE(tuple));
    std::vector<ByteRange> ranges(count);
    for (std::size_t k = 0; k < count; ++k) {
        PyObject* needle = PyTuple_GET_ITEM(tuple, static_cast<Py_ssize_t>(k));
        ranges[k] = ByteRange{reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(needle)),
                              static_cast<std::size_t>(PyBytes_GET_SIZE(needle))};
    }
    const std::size_t size = multi_bytes_needed(ranges);
    if (size == 0) {
        return PendingError::lazy(exception_type::value_error, messages::kNeedlesTooLong);
    }
    void* memory = PyMem_Malloc(size);
    if (memory == nullptr) {
        PyErr_NoMemory();
        return fetch_error();
    }
    const MultiAutomaton* automaton = multi_build(memory, size, ranges, ignore_case.value());
    if (automaton == nullptr) {
        PyMem_Free(memory);
        raise_fault("multi_build refused the memory multi_bytes_needed asked for");
    }
    OwnedRef finder = OwnedRef::steal(type->tp_alloc(type, 0));
    if (!finder) {
        PyMem_Free(memory);
        return fetch_error();
    }
    MultiFinderObject& made = finder_of(finder.get());
    made.needles = std::move(needles).value().release();
    made.memory = memory;
    made.automaton = automaton;
    made.ignore_case = ignore_case.value();
    return finder;
}

PyObject* multi_finder_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
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
        return new_multi_finder(type, flat.data(), PyTuple_GET_SIZE(args), names.get());
    });
}

void multi_finder_dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    MultiFinderObject& finder = finder_of(self);
    Py_XDECREF(finder.needles);
    PyMem_Free(finder.memory);
    type->tp_free(self);
    Py_DECREF(type);
}

// The first match in `part` (re's, an empty needle's included), or none.
MultiMatch first_match_in(const MultiAutomaton& automaton, ByteRange part) noexcept {
    MultiScan scan(automaton, part);
    std::uint64_t offset = 0;
    std::uint32_t index = 0;
    return scan.next_batch({&offset, 1}, {&index, 1}) == 1 ? MultiMatch{offset, index, 0}
                                                           : MultiMatch{};
}

// The first match in `range`. A long range is searched in two parts, as
// find's: the matches starting in its first kUnlockedFrom bytes with the
// lock held, since one there is found sooner than giving the lock up and
// taking it back would take, then the rest with the lock given up. A match
// starting in the first part ends within its first kUnlockedFrom + longest
// - 1 bytes, so a scan of those finds the first such match, and with it the
// first-listed needle at its start. Needles look at no byte before their
// start, so the rest is a range of its own.
MultiMatch first_match(const MultiAutomaton& automaton, ByteRange range) noexcept {
    const std::size_t near_size = kUnlockedFrom + automaton.longest - 1;
    if (range.size <= near_size) {
        return first_match_in(automaton, range);
    }
    if (const MultiMatch near = first_match_in(automaton, ByteRange{range.data, near_size});
        near.found() && near.offset < kUnlockedFrom) {
        return near;
    }
    MultiMatch far;
    {
        LockGivenUp unlocked;
        far = first_match_in(automaton,
                             ByteRange{range.data + kUnlockedFrom, range.size - kUnlockedFrom});
    }
    if (far.found()) {
        far.offset += kUnlockedFrom;
    }
    return far;
}

// (offset, index) as a new tuple. A tuple of ints can hold no reference
// cycle, so it leaves the collector's lists now (as the collector itself
// would untrack it on its first pass): a find_all of many matches then
// triggers no collections that walk the tuples made so far.
OwnedRef match_tuple(std::uint64_t offset, std::uint32_t index) {
    OwnedRef first = to_result(SearchResult::at(offset));
    OwnedRef second = to_result(SearchResult::at(index));
    OwnedRef pair = OwnedRef::steal(PyTuple_New(2));
    if (!pair) {
        api_call_failed();
    }
    PyTuple_SET_ITEM(pair.get(), 0, first.release());
    PyTuple_SET_ITEM(pair.get(), 1, second.release());
    PyObject_GC_UnTrack(pair.get());
    return pair;
}

// Matches collected with the interpreter lock given up: memory from
// PyMem_RawRealloc, which needs no lock; a failed allocation stops the
// collection and becomes a MemoryError.
class RawMatches {
public:
    RawMatches() = default;
    ~RawMatches() {
        PyMem_RawFree(offsets_);
        PyMem_RawFree(indices_);
    }
    RawMatches(const RawMatches&) = delete;
    RawMatches& operator=(const RawMatches&) = delete;

    void collect(MultiScan& scan) noexcept {
        for (;;) {
            const std::size_t wanted = capacity_ == 0 ? 64 : capacity_;
            if (!grow(capacity_ + wanted)) {
                failed_ = true;
                return;
            }
            const std::size_t room = capacity_ - size_;
            const std::size_t got =
                scan.next_batch({offsets_ + size_, room}, {indices_ + size_, room});
            size_ += got;
            if (got < room) {
                return;
            }
        }
    }

    bool failed() const noexcept { return failed_; }
    std::size_t size() const noexcept { return size_; }
    std::uint64_t offset(std::size_t k) const noexcept { return offsets_[k]; }
    std::uint32_t index(std::size_t k) const noexcept { return indices_[k]; }

private:
    bool grow(std::size_t capacity) noexcept {
        if (capacity > PY_SSIZE_T_MAX / sizeof(std::uint64_t)) {
            return false;
        }
        auto* offsets = static_cast<std::uint64_t*>(
            PyMem_RawRealloc(offsets_, capacity * sizeof(std::uint64_t)));
        if (offsets == nullptr) {
            return false;
        }
        offsets_ = offsets;
        auto* indices = static_cast<std::uint32_t*>(
            PyMem_RawRealloc(indices_, capacity * sizeof(std::uint32_t)));
        if (indices == nullptr) {
            return false;
        }
        indices_ = indices;
        capacity_ = capacity;
        return true;
    }

    std::uint64_t* offsets_ = nullptr;
    std::uint32_t* indices_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    bool failed_ = false;
};

enum class MultiQuery { find, count, finditer, find_all };

constexpr const char* kMethodNames[] = {"haystack", "start", "end"};

template <MultiQuery kQuery>
constexpr const char* kMultiDisplay = "";
template <>
constexpr const char* kMultiDisplay<MultiQuery::find> = "MultiFinder.find()";
template <>
constexpr const char* kMultiDisplay<MultiQuery::count> = "MultiFinder.count()";
template <>
constexpr const char* kMultiDisplay<MultiQuery::finditer> = "MultiFinder.finditer()";
template <>
constexpr const char* kMultiDisplay<MultiQuery::find_all> = "MultiFinder.find_all()";

Result<OwnedRef> make_match_iterator(PyObject* self, PyObject* haystack, PyObject* start,
                                     PyObject* end);

template <MultiQuery kQuery>
Result<OwnedRef> method_body(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    static constexpr Signature kSignature{kMultiDisplay<kQuery>, kMethodNames, 1, 3, 1};
    Result<Bound> bound = bind(kSignature, args, nargs, kwnames);
    if (!bound) {
        return std::move(bound).error();
    }
    const Bound& given = bound.value();
    if constexpr (kQuery == MultiQuery::finditer) {
        return make_match_iterator(self, given[0], given[1], given[2]);
    } else {
        ByteView haystack;
        if (Status acquired = acquire_haystack(given[0], haystack); !acquired) {
            return std::move(acquired).error();
        }
        Result<Window> window = window_of(given[1], given[2], haystack.bytes().size);
        if (!window) {
            return std::move(window).error();
        }
        const Window w = window.value();
        // The finder, which the caller holds, keeps the automaton alive;
        // the export keeps the haystack's memory in place.
        const MultiAutomaton& automaton = *finder_of(self).automaton;
        const ByteRange range = w.empty_range ? ByteRange{} : w.of(haystack.bytes());
        Result<OwnedRef> result = OwnedRef();
        if constexpr (kQuery == MultiQuery::find) {
            const MultiMatch found = w.empty_range ? MultiMatch{} : first_match(automaton, range);
            result = found.found() ? match_tuple(w.start + found.offset, found.index)
                                   : OwnedRef::borrow(Py_None);
        } else if constexpr (kQuery == MultiQuery::count) {
            const std::size_t count = w.empty_range ? 0 : search_maybe_unlocked(range.size, [&] {
                return MultiScan(automaton, range).count_rest();
            });
            OwnedRef counted = OwnedRef::steal(PyLong_FromSize_t(count));
            if (!counted) {
                api_call_failed();
            }
            result = std::move(counted);
        } else {
            RawMatches matches;
            if (!w.empty_range) {
                search_maybe_unlocked(range.size, [&] {
                    MultiScan scan(automaton, range);
                    matches.collect(scan);
                });
            }
            haystack.release();
            if (matches.failed()) {
                PyErr_NoMemory();
                return fetch_error();
            }
            OwnedRef list = OwnedRef::steal(PyList_New(static_cast<Py_ssize_t>(matches.size())));
            if (!list) {
                return fetch_error();
            }
            for (std::size_t k = 0; k < matches.size(); ++k) {
                PyList_SET_ITEM(
                    list.get(), static_cast<Py_ssize_t>(k),
                    match_tuple(w.start + matches.offset(k), matches.index(k)).release());
            }
            result = std::move(list);
        }
        haystack.release();
        return result;
    }
}

template <MultiQuery kQuery>
PyObject* method_entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) noexcept {
    return run_boundary([=] { return method_body<kQuery>(self, args, nargs, kwnames); });
}

// ---- the iterator finditer returns

// Batches grow from one match, so that next(finditer(...)) searches no
// further than the first, to kMaxMatchBatch.
constexpr std::size_t kMaxMatchBatch = 256;

struct MatchIteratorState {
    ByteView haystack;
    OwnedRef finder;  // keeps the automaton alive
    std::size_t base = 0;
    std::size_t length = 0;
    std::optional<MultiScan> scan;
    std::array<std::uint64_t, kMaxMatchBatch> offsets;
    std::array<std::uint32_t, kMaxMatchBatch> indices;
    std::size_t batch_next = 0;
    std::size_t batch_size = 0;
    std::size_t next_request = 1;
    bool finished = false;
    // Set while a batch is searched with the interpreter lock given up.
    bool busy = false;
};

using MatchIterator = StateObject<MatchIteratorState>;

MatchIteratorState& match_state_of(PyObject* self) noexcept {
    return MatchIterator::of(self);
}

Result<OwnedRef> next_match(PyObject* self) {
    MatchIteratorState& state = match_state_of(self);
    if (state.batch_next < state.batch_size) {
        const std::size_t k = state.batch_next++;
        return match_tuple(state.base + state.offsets[k], state.indices[k]);
    }
    if (state.finished) {
        return OwnedRef();
    }
    if (state.busy) {
        return PendingError::lazy(exception_type::value_error, messages::kIteratorBusy);
    }
    const std::size_t request = state.next_request;
    state.next_request = std::min(2 * request, kMaxMatchBatch);
    const std::size_t position = state.scan->position();
    const std::size_t left = position < state.length ? state.length - position : 0;
    state.busy = true;
    const std::size_t got = search_maybe_unlocked(left, [&] {
        return state.scan->next_batch({state.offsets.data(), request},
                                      {state.indices.data(), request});
    });
    state.busy = false;
    state.batch_size = got;
    state.batch_next = 0;
    if (got < request) {
        // Done: the buffer goes back now, not when the iterator is deleted.
        state.finished = true;
        state.haystack.release();
    }
    if (got == 0) {
        return OwnedRef();
    }
    state.batch_next = 1;
    return match_tuple(state.base + state.offsets[0], state.indices[0]);
}

PyObject* match_iterator_next(PyObject* self) noexcept {
    return run_boundary([self] { return next_match(self); });
}

PyType_Slot match_iterator_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&MatchIterator::dealloc)},
    {Py_tp_iter, reinterpret_cast<void*>(&PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(&match_iterator_next)},
    {0, nullptr},
};

PyType_Spec match_iterator_spec = {
    .name = "qarvo.MultiMatchIterator",
    .basicsize = static_cast<int>(sizeof(MatchIterator)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = match_iterator_slots,
};

LazyType match_iterator_type{match_iterator_spec};

Result<OwnedRef> make_match_iterator(PyObject* self, PyObject* haystack, PyObject* start,
                                     PyObject* end) {
    Result<PyTypeObject*> type = match_iterator_type.get();
    if (!type) {
        return std::move(type).error();
    }
    OwnedRef iterator = OwnedRef::steal(type.value()->tp_alloc(type.value(), 0));
    if (!iterator) {
        return fetch_error();
    }
    MatchIteratorState& state = MatchIterator::emplace(iterator.get());
    if (Status acquired = acquire_haystack(haystack, state.haystack); !acquired) {
        return std::move(acquired).error();
    }
    const ByteRange bytes = state.haystack.bytes();
    Result<Window> window = window_of(start, end, bytes.size);
    if (!window) {
        return std::move(window).error();
    }
    const Window& w = window.value();
    if (w.empty_range) {
        state.finished = true;
        state.haystack.release();
        return iterator;
    }
    state.finder = OwnedRef::borrow(self);
    state.base = w.start;
    state.length = w.end - w.start;
    state.scan.emplace(*finder_of(self).automaton, w.of(bytes));
    return iterator;
}

// ---- the type

PyObject* multi_finder_reduce(PyObject* self, PyObject* /*unused*/) noexcept {
    return run_boundary([self] {
        const MultiFinderObject& finder = finder_of(self);
        return reduce_with_ignore_case(self, finder.needles, finder.ignore_case);
    });
}

PyObject* multi_finder_repr(PyObject* self) noexcept {
    const MultiFinderObject& finder = finder_of(self);
    if (finder.ignore_case) {
        return PyUnicode_FromFormat("qarvo.MultiFinder(%R, ignore_case=True)", finder.needles);
    }
    return PyUnicode_FromFormat("qarvo.MultiFinder(%R)", finder.needles);
}

PyObject* multi_finder_needles(PyObject* self, void* /*closure*/) noexcept {
    return Py_NewRef(finder_of(self).needles);
}

PyObject* multi_finder_ignore_case(PyObject* self, void* /*closure*/) noexcept {
    return Py_NewRef(finder_of(self).ignore_case ? Py_True : Py_False);
}

PyMethodDef multi_finder_methods[] = {
    fastcall_method("find", &method_entry<MultiQuery::find>, messages::kMultiFindDoc),
    fastcall_method("count", &method_entry<MultiQuery::count>, messages::kMultiCountDoc),
    fastcall_method("finditer", &method_entry<MultiQuery::finditer>, messages::kMultiFinditerDoc),
    fastcall_method("find_all", &method_entry<MultiQuery::find_all>, messages::kMultiFindAllDoc),
    {.ml_name = "__reduce__",
     .ml_meth = &multi_finder_reduce,
     .ml_flags = METH_NOARGS,
     .ml_doc = messages::kMultiReduceDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef multi_finder_getset[] = {
    {.name = "needles",
     .get = &multi_finder_needles,
     .set = nullptr,
     .doc = messages::kMultiNeedlesDoc,
     .closure = nullptr},
    {.name = "ignore_case",
     .get = &multi_finder_ignore_case,
     .set = nullptr,
     .doc = messages::kMultiIgnoreCaseDoc,
     .closure = nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot multi_finder_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&multi_finder_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&multi_finder_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(&multi_finder_repr)},
    {Py_tp_methods, multi_finder_methods},
    {Py_tp_getset, multi_finder_getset},
    {Py_tp_doc, const_cast<char*>(messages::kMultiFinderDoc)},
    {0, nullptr},
};

PyType_Spec multi_finder_spec = {
    .name = "qarvo.MultiFinder",
    .basicsize = static_cast<int>(sizeof(MultiFinderObject)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    .slots = multi_finder_slots,
};

LazyType multi_finder_lazy_type{multi_finder_spec};

}  // namespace

Result<PyObject*> multi_finder_type() {
    Result<PyTypeObject*> type = multi_finder_lazy_type.get();
    if (!type) {
        return std::move(type).error();
    }
    return reinterpret_cast<PyObject*>(type.value());
}

}  // namespace qarvo::py
