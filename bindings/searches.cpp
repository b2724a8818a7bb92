#include "searches.hpp"

#include <atomic>
#include <cstring>
#include <span>
#include <vector>

#include "boundary.hpp"
#include "messages.hpp"
#include "offset_iterator.hpp"
#include "parameters.hpp"
#include "qarvo/matches.hpp"

namespace qarvo::py {
namespace {

// array.array, looked up on first use and kept for the life of the process.
std::atomic<PyObject*> array_type{nullptr};

Result<PyObject*> offsets_array_type() {
    if (PyObject* kept = array_type.load(std::memory_order_acquire)) [[likely]] {
        return kept;
    }
    OwnedRef module = OwnedRef::steal(PyImport_ImportModule("array"));
    if (!module) {
        return fetch_error();
    }
    OwnedRef type = OwnedRef::steal(PyObject_GetAttrString(module.get(), "array"));
    if (!type) {
        return fetch_error();
    }
    PyObject* expected = nullptr;
    if (array_type.compare_exchange_strong(expected, type.get(), std::memory_order_acq_rel)) {
        static_cast<void>(type.release());
    }
    return array_type.load(std::memory_order_acquire);
}

// Offsets are collected in chunks of at least this many.
constexpr std::size_t kChunk = 1024;

// Every occurrence's offset, left to right, plus `base`.
std::vector<std::int64_t> all_offsets(ByteRange range, ByteRange needle, bool overlapping,
                                      std::size_t base) {
    std::vector<std::int64_t> offsets;
    MatchScan scan(range, needle, overlapping);
    std::size_t filled = 0;
    for (;;) {
        if (offsets.size() - filled < kChunk) {
            offsets.resize(std::max(2 * offsets.size(), filled + kChunk));
        }
        static_assert(sizeof(std::int64_t) == sizeof(std::uint64_t));
        const std::span<std::uint64_t> room{
            reinterpret_cast<std::uint64_t*>(offsets.data()) + filled, offsets.size() - filled};
        const std::size_t got = scan.next_batch(room);
        filled += got;
        if (got < room.size()) {
            break;
        }
    }
    offsets.resize(filled);
    if (base != 0) {
        for (std::int64_t& offset : offsets) {
            offset += static_cast<std::int64_t>(base);
        }
    }
    return offsets;
}

Result<OwnedRef> offsets_array(const std::vector<std::int64_t>& offsets) {
    Result<PyObject*> type = offsets_array_type();
    if (!type) {
        return std::move(type).error();
    }
    OwnedRef raw = OwnedRef::steal(
        PyBytes_FromStringAndSize(reinterpret_cast<const char*>(offsets.data()),
                                  static_cast<Py_ssize_t>(offsets.size() * sizeof(std::int64_t))));
    if (!raw) {
        return fetch_error();
    }
    OwnedRef array = OwnedRef::steal(PyObject_CallFunction(type.value(), "sO", "q", raw.get()));
    if (!array) {
        return fetch_error();
    }
    return array;
}

OwnedRef count_object(std::size_t count) {
    if (count < kSmallOffsets) {
        return to_result(SearchResult::at(count));
    }
    OwnedRef boxed = OwnedRef::steal(PyLong_FromSize_t(count));
    if (!boxed) {
        api_call_failed();
    }
    return boxed;
}

}  // namespace

Result<bool> truth_of(PyObject* flag) {
    if (flag == nullptr || flag == Py_False) {
        return false;
    }
    const int truth = PyObject_IsTrue(flag);
    if (truth < 0) {
        return fetch_error();
    }
    return truth == 1;
}

Result<OwnedRef> answer(Query query, ByteRange haystack, Window window, ByteRange needle,
                        bool overlapping) {
    switch (query) {
        case Query::find:
        case Query::rfind: {
            if (window.empty_range) {
                return OwnedRef::borrow(Py_None);
            }
            const ByteRange range = window.of(haystack);
            if (needle.size > range.size) {
                return OwnedRef::borrow(Py_None);
            }
            const SearchResult found = search_maybe_unlocked(range.size, [&] {
                return query == Query::find ? find_n(range, needle) : rfind_n(range, needle);
            });
            return to_result(from_window(found, window.start));
        }
        case Query::count: {
            if (window.empty_range) {
                return count_object(0);
            }
            const ByteRange range = window.of(haystack);
            const std::size_t count = search_maybe_unlocked(
                range.size, [&] { return MatchScan(range, needle, overlapping).count_rest(); });
            return count_object(count);
        }
        case Query::find_all: {
            if (window.empty_range) {
                return offsets_array({});
            }
            const ByteRange range = window.of(haystack);
            const std::vector<std::int64_t> offsets = search_maybe_unlocked(
                range.size, [&] { return all_offsets(range, needle, overlapping, window.start); });
            return offsets_array(offsets);
        }
        case Query::finditer:
            break;
    }
    raise_fault("answer() called for finditer");
}

namespace {

constexpr const char* kFindNames[] = {"haystack", "needle", "start", "end"};
constexpr const char* kMatchesNames[] = {"haystack", "needle", "start", "end", "overlapping"};

constexpr Signature kFind{"find()", kFindNames, 2, 4};
constexpr Signature kRfind{"rfind()", kFindNames, 2, 4};
constexpr Signature kCount{"count()", kMatchesNames, 2, 4};
constexpr Signature kFinditer{"finditer()", kMatchesNames, 2, 4};
constexpr Signature kFindAll{"find_all()", kMatchesNames, 2, 4};

// The steps of every module function: bind, read the flag, hold the
// haystack's buffer, convert start and end, then the needle (bytes.find's
// order), answer, and release the needle before the haystack.
template <Query kQuery>
Result<OwnedRef> search_body(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
    Result<Bound> bound = bind(signature, args, nargs, kwnames);
    if (!bound) {
        return std::move(bound).error();
    }
    const Bound& given = bound.value();
    Result<bool> overlapping = truth_of(given[4]);
    if (!overlapping) {
        return std::move(overlapping).error();
    }
    if constexpr (kQuery == Query::finditer) {
        return make_offset_iterator(given[0], given[2], given[3], given[1], ByteRange{},
                                    overlapping.value());
    } else {
        ByteView haystack;
        if (Status acquired = acquire_haystack(given[0], haystack); !acquired) {
            return std::move(acquired).error();
        }
        Result<Window> window = window_of(given[2], given[3], haystack.bytes().size);
        if (!window) {
            return std::move(window).error();
        }
        SearchNeedle needle;
        if (Status extracted = needle.extract(given[1]); !extracted) {
            return std::move(extracted).error();
        }
        Result<OwnedRef> result =
            answer(kQuery, haystack.bytes(), window.value(), needle.bytes(), overlapping.value());
        needle.release();
        haystack.release();
        return result;
    }
}

// The plain call of find and rfind: a haystack read in place, an exact
// `bytes` or small int needle, start and end absent, None or small ints, and
// a range short enough to keep the interpreter lock. Declines anything else.
template <bool kReverse>
bool plain_find(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                SearchResult& found) noexcept {
    if (kwnames != nullptr || nargs < 2 || nargs > 4) [[unlikely]] {
        return false;
    }
    ByteRange haystack;
    if (!haystack_in_place(args[0], haystack)) {
        return false;
    }
    std::uint8_t byte = 0;
    ByteRange needle;
    if (PyBytes_CheckExact(args[1])) [[likely]] {
        needle = ByteRange{reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(args[1])),
                           static_cast<std::size_t>(PyBytes_GET_SIZE(args[1]))};
    } else if (const int small = compat::small_byte(args[1]); small >= 0) {
        byte = static_cast<std::uint8_t>(small);
        needle = ByteRange{&byte, 1};
    } else {
        return false;
    }
    Py_ssize_t start = 0;
    Py_ssize_t end = PY_SSIZE_T_MAX;
    if (nargs > 2 && (!plain_bound(args[2], start) || (nargs > 3 && !plain_bound(args[3], end)))) {
        return false;
    }
    const Window window = adjusted_window(start, end, static_cast<Py_ssize_t>(haystack.size));
    if (window.empty_range) {
        found = SearchResult::not_found();
        return true;
    }
    const ByteRange range = window.of(haystack);
    if (range.size >= kUnlockedFrom) {
        return false;
    }
    if (needle.size > range.size) {
        found = SearchResult::not_found();
        return true;
    }
    found = from_window(kReverse ? rfind_n(range, needle) : find_n(range, needle), window.start);
    return true;
}

Result<OwnedRef> find_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return search_body<Query::find>(kFind, args, nargs, kwnames);
}
Result<OwnedRef> rfind_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return search_body<Query::rfind>(kRfind, args, nargs, kwnames);
}
Result<OwnedRef> count_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return search_body<Query::count>(kCount, args, nargs, kwnames);
}
Result<OwnedRef> finditer_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return search_body<Query::finditer>(kFinditer, args, nargs, kwnames);
}
Result<OwnedRef> find_all_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return search_body<Query::find_all>(kFindAll, args, nargs, kwnames);
}

template <PlainSearch Plain, SearchBody Body>
PyObject* plain_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                      PyObject* kwnames) noexcept {
    return run_search_boundary<Plain, Body>(args, nargs, kwnames);
}

template <SearchBody Body>
PyObject* body_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                     PyObject* kwnames) noexcept {
    return run_boundary([=] { return Body(args, nargs, kwnames); });
}

}  // namespace

const FastcallEntry find_entry = &plain_entry<plain_find<false>, find_body>;
const FastcallEntry rfind_entry = &plain_entry<plain_find<true>, rfind_body>;
const FastcallEntry count_entry = &body_entry<count_body>;
const FastcallEntry finditer_entry = &body_entry<finditer_body>;
const FastcallEntry find_all_entry = &body_entry<find_all_body>;

}  // namespace qarvo::py
