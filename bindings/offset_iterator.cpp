#include "offset_iterator.hpp"

#include <algorithm>
#include <array>
#include <new>
#include <optional>
#include <vector>

#include "boundary.hpp"
#include "call.hpp"
#include "messages.hpp"
#include "qarvo/matches.hpp"
#include "type_objects.hpp"

namespace qarvo::py {
namespace {

// Batches grow from one offset, so that next(finditer(...)) searches no
// further than the first match, to kMaxBatch, where a step's share of a
// call into the core is small.
constexpr std::size_t kMaxBatch = 256;

struct IteratorState {
    ByteView haystack;
    std::vector<std::uint8_t> needle;
    std::size_t base = 0;    // the window's start: offsets are relative to it
    std::size_t length = 0;  // the window's length
    std::optional<MatchScan> scan;
    std::array<std::uint64_t, kMaxBatch> batch;
    std::size_t batch_next = 0;
    std::size_t batch_size = 0;
    std::size_t next_request = 1;
    bool finished = false;
    // Set while a batch is searched with the interpreter lock given up: a
    // second thread stepping the same iterator then gets an error instead
    // of a share of the state.
    bool busy = false;
};

using OffsetIterator = StateObject<IteratorState>;

IteratorState& state_of(PyObject* self) noexcept {
    return OffsetIterator::of(self);
}

Result<OwnedRef> next_offset(PyObject* self) {
    IteratorState& state = state_of(self);
    if (state.batch_next < state.batch_size) {
        return to_result(SearchResult::at(state.base + state.batch[state.batch_next++]));
    }
    if (state.finished) {
        return OwnedRef();
    }
    if (state.busy) {
        return PendingError::lazy(exception_type::value_error, messages::kIteratorBusy);
    }
    const std::size_t request = state.next_request;
    state.next_request = std::min(2 * request, kMaxBatch);
    const std::size_t position = state.scan->position();
    const std::size_t left = position < state.length ? state.length - position : 0;
    // The first kUnlockedFrom bytes with the lock held, where a match is
    // found sooner than giving the lock up would take; then the rest of the
    // batch without it.
    std::size_t got =
        state.scan->next_batch({state.batch.data(), request}, position + kUnlockedFrom);
    if (got < request && !state.scan->done()) {
        state.busy = true;
        got += search_maybe_unlocked(left, [&] {
            return state.scan->next_batch({state.batch.data() + got, request - got});
        });
        state.busy = false;
    }
    state.batch_size = got;
    state.batch_next = 0;
    if (got < request) {
        // Done: the buffer goes back now, not when the iterator is deleted.
        state.finished = true;
        state.haystack.release();
        state.needle = {};
    }
    if (got == 0) {
        return OwnedRef();
    }
    return to_result(SearchResult::at(state.base + state.batch[state.batch_next++]));
}

PyObject* iterator_next(PyObject* self) noexcept {
    return run_boundary([self] { return next_offset(self); });
}

PyType_Slot iterator_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&OffsetIterator::dealloc)},
    {Py_tp_iter, reinterpret_cast<void*>(&PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(&iterator_next)},
    {0, nullptr},
};

PyType_Spec iterator_spec = {
    .name = "qarvo.OffsetIterator",
    .basicsize = static_cast<int>(sizeof(OffsetIterator)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    .slots = iterator_slots,
};

LazyType offset_iterator_type{iterator_spec};

}  // namespace

Result<OwnedRef> make_offset_iterator(PyObject* haystack, PyObject* start, PyObject* end,
                                      PyObject* needle_object, ByteRange prepared,
                                      Matching matching) {
    Result<PyTypeObject*> type = offset_iterator_type.get();
    if (!type) {
        return std::move(type).error();
    }
    OwnedRef iterator = OwnedRef::steal(type.value()->tp_alloc(type.value(), 0));
    if (!iterator) {
        return fetch_error();
    }
    IteratorState& state = OffsetIterator::emplace(iterator.get());
    if (Status acquired = acquire_haystack(haystack, state.haystack); !acquired) {
        return std::move(acquired).error();
    }
    const ByteRange bytes = state.haystack.bytes();
    Result<Window> window = window_of(start, end, bytes.size);
    if (!window) {
        return std::move(window).error();
    }
    if (needle_object != nullptr) {
        Result<std::vector<std::uint8_t>> copied = copy_needle(needle_object);
        if (!copied) {
            return std::move(copied).error();
        }
        state.needle = std::move(copied).value();
    } else {
        state.needle.assign(prepared.data, prepared.data + prepared.size);
    }
    const Window& w = window.value();
    if (w.empty_range) {
        state.finished = true;
        state.haystack.release();
        return iterator;
    }
    state.base = w.start;
    state.length = w.end - w.start;
    state.scan.emplace(w.of(bytes), ByteRange{state.needle.data(), state.needle.size()},
                       matching.overlapping, matching.ignore_case);
    return iterator;
}

}  // namespace qarvo::py
