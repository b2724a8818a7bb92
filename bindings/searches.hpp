// The searches beyond the first occurrence: find, rfind, count, finditer and
// find_all, as module functions and as the methods of a prepared Finder. Each
// takes a haystack, a needle, bytes.find's start and end, and for the
// all-matches ones whether occurrences may overlap.
#pragma once

#include <cstdint>

#include "byte_view.hpp"
#include "call.hpp"
#include "result.hpp"
#include "search_args.hpp"

namespace qarvo::py {

enum class Query { find, rfind, count, finditer, find_all };

// The answer to `query` for the haystack held by `haystack` (acquired and
// checked), the window and the needle; for finditer, `iterator_owner` is the
// iterator object that holds `haystack` (see offset_iterator.hpp).
Result<OwnedRef> answer(Query query, ByteRange haystack, Window window, ByteRange needle,
                        Matching matching);

// Whether ignoring case changes what `needle` matches: only an ASCII letter
// matches a byte other than itself. Without one the case-insensitive search
// is the exact one, which the searches take instead, skipping the folded
// search's setup (compare_ignore_case.py: four zero bytes in a binary, one
// Chinese character, both found within the first few dozen bytes).
bool has_ascii_letter(ByteRange needle) noexcept;

// Whether `flag` (nullptr: not given) is true, as `if flag:` decides.
Result<bool> truth_of(PyObject* flag);

// The two flags, overlapping first, each as truth_of decides it.
Result<Matching> matching_of(PyObject* overlapping, PyObject* ignore_case);

// The fast-call entries of the module functions.
extern const FastcallEntry find_entry;
extern const FastcallEntry rfind_entry;
extern const FastcallEntry count_entry;
extern const FastcallEntry finditer_entry;
extern const FastcallEntry find_all_entry;

}  // namespace qarvo::py
