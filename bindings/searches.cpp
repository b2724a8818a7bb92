#include "searches.hpp"

#include <array>
#include <cstring>
#include <span>

#include "boundary.hpp"
#include "messages.hpp"
#include "offset_iterator.hpp"
#include "offsets.hpp"
#include "parameters.hpp"
#include "qarvo/matches.hpp"

namespace qarvo::py {
namespace {

// Every occurrence's offset, left to right, into `buffer`.
void collect_offsets(ByteRange range, ByteRange needle, Matching matching, OffsetBuffer& buffer) {
    MatchScan scan(range, needle, matching.overlapping, matching.ignore_case);
    // The first batch fills the buffer's place for a few; the next grow.
    for (std::size_t wanted = kInlineOffsets;; wanted = wanted < 65536 ? 2 * wanted : wanted) {
        const std::span<std::uint64_t> room = buffer.room(wanted);
        if (room.empty()) {
            return;  // out of memory: make_offsets raises MemoryError
        }
        const std::size_t got = scan.next_batch(room);
        buffer.keep(got);
        if (got < room.size()) {
            return;
        }
    }
}

// find_all's answer: every offset in `range`, the window's bytes (none
// read when the window is empty), as an Offsets counted from the haystack's
// start.
Result<OwnedRef> all_offsets(ByteRange range, Window window, ByteRange needle, Matching matching) {
    OffsetBuffer offsets;
    if (!window.empty_range) {
        search_maybe_unlocked(range.size,
                              [&] { collect_offsets(range, needle, matching, offsets); });
    }
    return make_offsets(offsets, window.start);
}

// The first (or, kReverse, the last) occurrence in `range`. A long range is
// searched in two parts: the first kUnlockedFrom bytes (the last, in
// reverse) with the lock held, since a match there is found sooner than
// giving the lock up and taking it back would take, then the rest with the
// lock given up. With `ignore_case`, the folded searches.
template <bool kReverse, class Unlocked = LockGivenUp>
SearchResult first_or_last(ByteRange range, ByteRange needle, bool ignore_case = false) noexcept {
    const auto search = [&](ByteRange part) {
        if (ignore_case) {
            return kReverse ? rfind_folded(part, needle) : find_folded(part, needle);
        }
        return kReverse ? rfind_n(part, needle) : find_n(part, needle);
    };
    if (range.size < kUnlockedFrom + needle.size) {
        return search(range);
    }
    // The near part holds every window that starts in its first
    // kUnlockedFrom - m + 1 positions; the far part every other one.
    const std::size_t near_windows = kUnlockedFrom - needle.size + 1;
    if constexpr (kReverse) {
        const std::size_t far_end = range.size - kUnlockedFrom;  // windows starting before it
        const ByteRange near{range.data + far_end, range.size - far_end};
        if (const SearchResult found = search(near); found.found()) {
            return from_window(found, far_end);
        }
        const ByteRange far{range.data, far_end + needle.size - 1};
        Unlocked unlocked;
        return search(far);
    } else {
        if (const SearchResult found = search(ByteRange{range.data, kUnlockedFrom});
            found.found()) {
            return found;
        }
        const ByteRange far{range.data + near_windows, range.size - near_windows};
        Unlocked unlocked;
        return from_window(search(far), near_windows);
    }
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

bool has_ascii_letter(ByteRange needle) noexcept {
    for (std::size_t i = 0; i < needle.size; ++i) {
        const unsigned lower = needle.data[i] | 0x20u;
        if (lower >= 'a' && lower <= 'z') {
            return true;
        }
    }
    return false;
}

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

Result<Matching> matching_of(PyObject* overlapping, PyObject* ignore_case) {
    Result<bool> overlaps = truth_of(overlapping);
    if (!overlaps) {
        return std::move(overlaps).error();
    }
    Result<bool> folds = truth_of(ignore_case);
    if (!folds) {
        return std::move(folds).error();
    }
    return Matching{overlaps.value(), folds.value()};
}

Result<OwnedRef> answer(Query query, ByteRange haystack, Window window, ByteRange needle,
                        Matching matching) {
    matching.ignore_case = matching.ignore_case && has_ascii_letter(needle);
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
            const SearchResult found =
                query == Query::find ? first_or_last<false>(range, needle, matching.ignore_case)
                                     : first_or_last<true>(range, needle, matching.ignore_case);
            return to_result(from_window(found, window.start));
        }
        case Query::count: {
            if (window.empty_range) {
                return count_object(0);
            }
            const ByteRange range = window.of(haystack);
            const std::size_t count = search_maybe_unlocked(range.size, [&] {
                return count_matches(range, needle, matching.overlapping, matching.ignore_case);
            });
            return count_object(count);
        }
        case Query::find_all:
            return all_offsets(window.empty_range ? ByteRange{} : window.of(haystack), window,
                               needle, matching);
        case Query::finditer:
            break;
    }
    raise_fault("answer() called for finditer");
}

namespace {

constexpr const char* kFindNames[] = {"haystack", "needle", "start", "end", "ignore_case"};
constexpr const char* kMatchesNames[] = {"haystack", "needle",      "start",
                                         "end",      "overlapping", "ignore_case"};

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
    // find and rfind have ignore_case where the others have overlapping.
    constexpr bool kFirstOrLast = kQuery == Query::find || kQuery == Query::rfind;
    Result<Matching> matching =
        matching_of(kFirstOrLast ? nullptr : given[4], kFirstOrLast ? given[4] : given[5]);
    if (!matching) {
        return std::move(matching).error();
    }
    if constexpr (kQuery == Query::finditer) {
        return make_offset_iterator(given[0], given[2], given[3], given[1], ByteRange{},
                                    matching.value());
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
            answer(kQuery, haystack.bytes(), window.value(), needle.bytes(), matching.value());
        needle.release();
        haystack.release();
        return result;
    }
}

// The arguments of a plain call of find, rfind or count: a haystack read in
// place, an exact `bytes` or small int needle (one of kByteValues),
// start and end absent, None or small ints. A window long enough to give the
// interpreter lock up only in an exact `bytes`, which is immutable and which
// the caller's reference keeps alive: a bytearray or memoryview read in
// place has no export to hold it meanwhile. The one keyword it takes is
// ignore_case given as True or False, the form nearly every call spells it
// in; reading it costs no call. False for anything else, which the body
// takes.
struct PlainCall {
    ByteRange range;  // the window's bytes
    ByteRange needle;
    Window window;
    bool ignore_case = false;
};

// Every byte value at its own index: an int needle points into it, so that
// no PlainCall member's address is taken and the compiler can keep the call
// in registers. (With a member holding the byte, GCC 16 kept the whole call
// on the stack and read the needle back as one 16-byte load from two 8-byte
// stores, which stalled rfind's plain lane: percall.py-style loops on
// CPython 3.14.)
constexpr auto kByteValues = [] {
    std::array<std::uint8_t, 256> values{};
    for (std::size_t b = 0; b < values.size(); ++b) {
        values[b] = static_cast<std::uint8_t>(b);
    }
    return values;
}();

// Whether a keyword's name is "ignore_case": compared in place, as the
// interpreter's own keyword names are ASCII strings.
[[gnu::always_inline]] inline bool names_ignore_case(PyObject* name) noexcept {
    constexpr char kName[] = "ignore_case";
    constexpr Py_ssize_t kLength = sizeof kName - 1;
    return PyUnicode_CheckExact(name) && PyUnicode_IS_ASCII(name) &&
           PyUnicode_GET_LENGTH(name) == kLength &&
           std::memcmp(PyUnicode_1BYTE_DATA(name), kName, kLength) == 0;
}

[[gnu::always_inline]] inline bool plain_call(PyObject* const* args, Py_ssize_t nargs,
                                              PyObject* kwnames, PlainCall& call) noexcept {
    if (nargs < 2 || nargs > 4) [[unlikely]] {
        return false;
    }
    if (kwnames != nullptr) {
        if (PyTuple_GET_SIZE(kwnames) != 1 || !names_ignore_case(PyTuple_GET_ITEM(kwnames, 0))) {
            return false;
        }
        PyObject* const flag = args[nargs];
        if (flag != Py_True && flag != Py_False) {
            return false;
        }
        call.ignore_case = flag == Py_True;
    }
    ByteRange haystack;
    if (!haystack_in_place(args[0], haystack)) {
        return false;
    }
    if (PyBytes_CheckExact(args[1])) [[likely]] {
        call.needle = ByteRange{reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(args[1])),
                                static_cast<std::size_t>(PyBytes_GET_SIZE(args[1]))};
    } else if (const int small = compat::small_byte(args[1]); small >= 0) {
        call.needle = ByteRange{&kByteValues[static_cast<std::size_t>(small)], 1};
    } else {
        return false;
    }
    call.ignore_case = call.ignore_case && has_ascii_letter(call.needle);
    Py_ssize_t start = 0;
    Py_ssize_t end = PY_SSIZE_T_MAX;
    if (nargs > 2 && (!plain_bound(args[2], start) || (nargs > 3 && !plain_bound(args[3], end)))) {
        return false;
    }
    call.window = adjusted_window(start, end, static_cast<Py_ssize_t>(haystack.size));
    call.range = call.window.empty_range ? ByteRange{} : call.window.of(haystack);
    return call.range.size < kUnlockedFrom || PyBytes_CheckExact(args[0]);
}

// The commonest call, f(haystack, needle) with both an exact `bytes`: both
// read in place and searched straight away, before any step of plain_call,
// whose checks and frame cost about as much again as the search of a short
// haystack (the rows of one byte found at once in compare_matches.py, on
// CPython 3.14 and 3.15, against bytes.rfind). False for every other call.
// The haystack is immutable and the caller's reference keeps it alive, so
// the lock may be given up around its search.
[[gnu::always_inline]] inline bool bytes_pair(PyObject* const* args, Py_ssize_t nargs,
                                              PyObject* kwnames, ByteRange& haystack,
                                              ByteRange& needle) noexcept {
    if (nargs != 2 || kwnames != nullptr || !PyBytes_CheckExact(args[0]) ||
        !PyBytes_CheckExact(args[1])) {
        return false;
    }
    haystack = ByteRange{reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(args[0])),
                         static_cast<std::size_t>(PyBytes_GET_SIZE(args[0]))};
    needle = ByteRange{reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(args[1])),
                       static_cast<std::size_t>(PyBytes_GET_SIZE(args[1]))};
    return true;
}

// A bytes_pair search of a haystack long enough to give the lock up in:
// first_or_last's frame, out of line.
template <bool kReverse>
[[gnu::noinline]] SearchResult long_first_or_last(ByteRange haystack, ByteRange needle) noexcept {
    return first_or_last<kReverse, PlainLockGivenUp>(haystack, needle);
}

[[gnu::noinline]] std::size_t long_count(ByteRange haystack, ByteRange needle) noexcept {
    PlainLockGivenUp unlocked;
    return count_matches(haystack, needle, false, false);
}

// The rest of plain_find, out of line, so that a call bytes_pair takes does
// not set up its frame.
template <bool kReverse>
[[gnu::noinline]] bool plain_find_call(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                                       SearchResult& found) noexcept {
    PlainCall call;
    if (!plain_call(args, nargs, kwnames, call)) {
        return false;
    }
    if (call.window.empty_range || call.needle.size > call.range.size) {
        found = SearchResult::not_found();
    } else {
        found = from_window(
            first_or_last<kReverse, PlainLockGivenUp>(call.range, call.needle, call.ignore_case),
            call.window.start);
    }
    return true;
}

template <bool kReverse>
bool plain_find(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                SearchResult& found) noexcept {
    ByteRange haystack;
    ByteRange needle;
    if (!bytes_pair(args, nargs, kwnames, haystack, needle)) [[unlikely]] {
        return plain_find_call<kReverse>(args, nargs, kwnames, found);
    }
    // One byte goes to its routine directly rather than through find_n's
    // choice by length.
    if (needle.size == 1 && haystack.size < kUnlockedFrom) {
        found = kReverse ? rfind_one(haystack, needle.data[0]) : find_one(haystack, needle.data[0]);
    } else if (needle.size > haystack.size) {
        found = SearchResult::not_found();
    } else if (haystack.size >= kUnlockedFrom) [[unlikely]] {
        found = long_first_or_last<kReverse>(haystack, needle);
    } else {
        found = kReverse ? rfind_n(haystack, needle) : find_n(haystack, needle);
    }
    return true;
}

// The count travels as a SearchResult offset (never the not-found value: a
// count is at most n + 1), so that it takes the same boxing as an offset.
[[gnu::noinline]] bool plain_count_call(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                                        SearchResult& found) noexcept {
    PlainCall call;
    if (!plain_call(args, nargs, kwnames, call)) {
        return false;
    }
    found = SearchResult::at(
        call.window.empty_range ? 0 : search_maybe_unlocked<PlainLockGivenUp>(call.range.size, [&] {
            return count_matches(call.range, call.needle, false, call.ignore_case);
        }));
    return true;
}

bool plain_count(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                 SearchResult& found) noexcept {
    ByteRange haystack;
    ByteRange needle;
    if (!bytes_pair(args, nargs, kwnames, haystack, needle)) [[unlikely]] {
        return plain_count_call(args, nargs, kwnames, found);
    }
    if (haystack.size >= kUnlockedFrom) [[unlikely]] {
        found = SearchResult::at(long_count(haystack, needle));
    } else {
        found = SearchResult::at(count_matches(haystack, needle, false, false));
    }
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
// A plain call (PlainCall) skips the parse of every parameter; the rest
// take the body of the other searches.
Result<OwnedRef> find_all_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    if (PlainCall call; plain_call(args, nargs, kwnames, call)) {
        return all_offsets(call.range, call.window, call.needle, Matching{false, call.ignore_case});
    }
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
const FastcallEntry count_entry = &plain_entry<plain_count, count_body>;
const FastcallEntry finditer_entry = &body_entry<finditer_body>;
const FastcallEntry find_all_entry = &body_entry<find_all_body>;

}  // namespace qarvo::py
