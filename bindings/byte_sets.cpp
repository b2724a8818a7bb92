#include "byte_sets.hpp"

#include "boundary.hpp"
#include "parameters.hpp"
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

SearchResult search_set(SetQuery query, ByteRange range, const ByteSet& set) noexcept {
    switch (query) {
        case SetQuery::first_in:
            return find_any(range, set);
        case SetQuery::last_in:
            return rfind_any(range, set);
        case SetQuery::first_out:
            return find_not_any(range, set);
        case SetQuery::last_out:
            return rfind_not_any(range, set);
    }
    return SearchResult::not_found();
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
    const ByteSet set = ByteSet::of(members.bytes());
    members.release();
    SearchResult found = SearchResult::not_found();
    if (!window.value().empty_range) {
        const ByteRange range = window.value().of(haystack.bytes());
        found = search_maybe_unlocked(range.size, [&] { return search_set(kQuery, range, set); });
    }
    haystack.release();
    return to_result(from_window(found, window.value().start));
}

template <SetQuery kQuery>
PyObject* set_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames) noexcept {
    return run_boundary([=] { return set_body<kQuery>(args, nargs, kwnames); });
}

}  // namespace

const FastcallEntry find_any_entry = &set_entry<SetQuery::first_in>;
const FastcallEntry rfind_any_entry = &set_entry<SetQuery::last_in>;
const FastcallEntry find_not_any_entry = &set_entry<SetQuery::first_out>;
const FastcallEntry rfind_not_any_entry = &set_entry<SetQuery::last_out>;

}  // namespace qarvo::py
