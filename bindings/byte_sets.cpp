#include "byte_sets.hpp"

#include "boundary.hpp"
#include "lock.hpp"
#include "parameters.hpp"
#include "plain_haystack.hpp"
#include "search_args.hpp"

namespace qarvo::py {
namespace {

enum class SetQuery { first_in, last_in, first_out, last_out };

constexpr const char* kNames[] = {"haystack", "byteset", "start", "end"};

template <SetQuery kQuery>
constexpr Signature kSignature{kQuery == SetQuery::first_in    ? "find_any()"
                               : kQuery == SetQuery::last_in   ? "rfind_any()"
                               : kQuery == SetQuery::first_out ? "find_not_any()"
                                                               : "rfind_not_any()",
                               kNames, 2, 4};

// The set searched for, and its member when it was given as one byte: the
// first or last member of a one-byte set is that byte's first or last
// occurrence, which find_one and rfind_one answer with the routes chosen for
// their own long ranges (on Zen 4 the 256-bit loop past the L2 cache). The
// set's own loops would read a 64 MiB range slower there
// (compare_byte_sets.py, one member, 64 MiB).
struct Target {
    ByteSet set;
    int single = -1;

    static Target of(ByteRange members) noexcept {
        return {ByteSet::of(members), members.size == 1 ? members.data[0] : -1};
    }
};

SearchResult search_set(SetQuery query, ByteRange range, const Target& target) noexcept {
    const ByteSet& set = target.set;
    switch (query) {
        case SetQuery::first_in:
            return target.single >= 0 ? find_one(range, static_cast<std::uint8_t>(target.single))
                                      : find_any(range, set);
        case SetQuery::last_in:
            return target.single >= 0 ? rfind_one(range, static_cast<std::uint8_t>(target.single))
                                      : rfind_any(range, set);
        case SetQuery::first_out:
            return find_not_any(range, set);
        case SetQuery::last_out:
            return rfind_not_any(range, set);
    }
    return SearchResult::not_found();
}

// The search, with the interpreter lock given up for long ranges; as find's
// and rfind's, the kUnlockedFrom bytes where the search starts (the first,
// or the last from the end) are searched with it held, so that an answer
// near there does not pay for giving the lock up and taking it back
// (compare_byte_sets.py: binary haystacks of 1 MiB, whose first member
// comes within a few hundred bytes).
template <class Unlocked = LockGivenUp>
SearchResult search_near_then_far(SetQuery query, ByteRange range, const Target& target) noexcept {
    if (range.size <= kUnlockedFrom) {
        return search_set(query, range, target);
    }
    const bool from_end = query == SetQuery::last_in || query == SetQuery::last_out;
    const std::size_t far_size = range.size - kUnlockedFrom;
    const std::size_t near_start = from_end ? far_size : 0;
    const ByteRange near{range.data + near_start, kUnlockedFrom};
    if (const SearchResult found = search_set(query, near, target); found.found()) {
        return SearchResult::at(near_start + found.offset());
    }
    const std::size_t far_start = from_end ? 0 : kUnlockedFrom;
    const ByteRange far{range.data + far_start, far_size};
    Unlocked unlocked;
    const SearchResult found = search_set(query, far, target);
    return found.found() ? SearchResult::at(far_start + found.offset()) : found;
}

// Bind, hold the haystack's buffer, convert start and end, then the set
// (as search_n takes a needle); search; release the set, then the haystack.
template <SetQuery kQuery>
Result<OwnedRef> set_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    Result<Bound> bound = bind(kSignature<kQuery>, args, nargs, kwnames);
    if (!bound) {
        return std::move(bound).error();
    }
    const Bound& given = bound.value();
    ByteView haystack;
    if (Status acquired = acquire_haystack(given[0], haystack); !acquired) {
        return std::move(acquired).error();
    }
    Result<Window> window = window_of(given[2], given[3], haystack.bytes().size);
    if (!window) {
        return std::move(window).error();
    }
    NeedleBytes members;
    if (Status extracted = members.extract(given[1]); !extracted) {
        return std::move(extracted).error();
    }
    const Target target = Target::of(members.bytes());
    members.release();
    SearchResult found = SearchResult::not_found();
    if (!window.value().empty_range) {
        const ByteRange range = window.value().of(haystack.bytes());
        found = search_near_then_far(kQuery, range, target);
    }
    haystack.release();
    return to_result(from_window(found, window.value().start));
}

// The plain lane (run_search_boundary): a haystack read in place, the set
// an exact `bytes`, start and end absent, None or small ints, no keywords;
// as find's, a range long enough to give the lock up only in an exact
// `bytes`. Most calls are of this form, and it skips binding the arguments
// and holding buffers (compare_byte_sets.py: 32-byte haystacks).
template <SetQuery kQuery>
bool plain_set(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
               SearchResult& found) noexcept {
    if (nargs < 2 || nargs > 4 || kwnames != nullptr || !PyBytes_CheckExact(args[1])) [[unlikely]] {
        return false;
    }
    ByteRange haystack;
    if (!haystack_in_place(args[0], haystack)) {
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
    if (range.size >= kUnlockedFrom && !PyBytes_CheckExact(args[0])) {
        return false;
    }
    const Target target =
        Target::of(ByteRange{reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(args[1])),
                             static_cast<std::size_t>(PyBytes_GET_SIZE(args[1]))});
    found =
        from_window(search_near_then_far<PlainLockGivenUp>(kQuery, range, target), window.start);
    return true;
}

template <SetQuery kQuery>
PyObject* set_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames) noexcept {
    return run_search_boundary<plain_set<kQuery>, set_body<kQuery>>(args, nargs, kwnames);
}

}  // namespace

const FastcallEntry find_any_entry = &set_entry<SetQuery::first_in>;
const FastcallEntry rfind_any_entry = &set_entry<SetQuery::last_in>;
const FastcallEntry find_not_any_entry = &set_entry<SetQuery::first_out>;
const FastcallEntry rfind_not_any_entry = &set_entry<SetQuery::last_out>;

}  // namespace qarvo::py
