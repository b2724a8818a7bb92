// The fixed texts of the module's messages and docstrings. They are part of
// the module's interface: callers and tests compare them to the letter, so a
// change here is a change of the interface.
#pragma once

#include "compat.hpp"  // PY_VERSION_HEX

namespace qarvo::py::messages {

// ---- the functions' docstrings: a signature line, "--", an empty line, the
// sentence that becomes __doc__ (module.cpp)
constexpr const char* kSearchOneDoc =
    "search_one(haystack, needle)\n--\n\nSearch for the first occurrence of a single byte "
    "`needle` (0-255) in `haystack`.";
constexpr const char* kSearchTwoDoc =
    "search_two(haystack, needle)\n--\n\nSearch for the first occurrence of a two-byte "
    "`needle` in `haystack`.";
constexpr const char* kSearchThreeDoc =
    "search_three(haystack, needle)\n--\n\nSearch for the first occurrence of a three-byte "
    "`needle` in `haystack`.";
constexpr const char* kSearchNDoc =
    "search_n(haystack, needle)\n--\n\nSearch for the first occurrence of an arbitrary byte "
    "sequence `needle` in `haystack`.";

// ---- find, rfind, count, finditer, find_all and Finder (searches.cpp,
// finder.cpp, search_args.cpp): bytes.find's texts where it makes the same
// mistake
constexpr const char* kByteOutOfRange = "byte must be in range(0, 256)";
// "argument should be integer or bytes-like object, not 'str'"
constexpr const char* kNotANeedle = "argument should be integer or bytes-like object, not '";
// The interpreter's own text for a bad start or end of bytes.find, which
// 3.15 shortened.
#if PY_VERSION_HEX >= 0x030F0000
constexpr const char* kBadSliceIndex = "slice indices must be integers or have an __index__ method";
#else
constexpr const char* kBadSliceIndex =
    "slice indices must be integers or None or have an __index__ method";
#endif
constexpr const char* kIteratorBusy = "iterator already executing";

constexpr const char* kFindDoc =
    "find(haystack, needle, start=None, end=None, *, ignore_case=False)\n--\n\nReturn the "
    "lowest offset in `haystack[start:end]` where `needle` occurs, as `bytes.find` would, or "
    "None. With `ignore_case=True`, ASCII letters match either case.";
constexpr const char* kRfindDoc =
    "rfind(haystack, needle, start=None, end=None, *, ignore_case=False)\n--\n\nReturn the "
    "highest offset in `haystack[start:end]` where `needle` occurs, as `bytes.rfind` would, or "
    "None. With `ignore_case=True`, ASCII letters match either case.";
constexpr const char* kCountDoc =
    "count(haystack, needle, start=None, end=None, *, overlapping=False, ignore_case=False)"
    "\n--\n\nReturn the number of occurrences of `needle` in `haystack[start:end]`: "
    "non-overlapping ones as `bytes.count` counts them, or every offset where it starts with "
    "`overlapping=True`. With `ignore_case=True`, ASCII letters match either case.";
constexpr const char* kFinditerDoc =
    "finditer(haystack, needle, start=None, end=None, *, overlapping=False, "
    "ignore_case=False)\n--\n\nReturn an "
    "iterator over the offsets of the occurrences that `count` counts, left to right.";
constexpr const char* kFindAllDoc =
    "find_all(haystack, needle, start=None, end=None, *, overlapping=False, "
    "ignore_case=False)\n--\n\nReturn the "
    "offsets of the occurrences that `count` counts, left to right, as an array('q').";
constexpr const char* kFindAnyDoc =
    "find_any(haystack, byteset, start=None, end=None)\n--\n\nReturn the lowest offset in "
    "`haystack[start:end]` whose byte is in `byteset`, or None.";
constexpr const char* kRfindAnyDoc =
    "rfind_any(haystack, byteset, start=None, end=None)\n--\n\nReturn the highest offset in "
    "`haystack[start:end]` whose byte is in `byteset`, or None.";
constexpr const char* kFindNotAnyDoc =
    "find_not_any(haystack, byteset, start=None, end=None)\n--\n\nReturn the lowest offset "
    "in `haystack[start:end]` whose byte is not in `byteset`, or None.";
constexpr const char* kRfindNotAnyDoc =
    "rfind_not_any(haystack, byteset, start=None, end=None)\n--\n\nReturn the highest "
    "offset in `haystack[start:end]` whose byte is not in `byteset`, or None.";
constexpr const char* kFinderDoc =
    "Finder(needle, *, ignore_case=False)\n--\n\nA needle prepared once for many searches; "
    "its methods take (haystack, start=None, end=None) like the module's functions, and "
    "ignore ASCII case when the Finder does.";
constexpr const char* kFinderFindDoc =
    "find($self, haystack, start=None, end=None)\n--\n\nLike qarvo.find with this needle.";
constexpr const char* kFinderRfindDoc =
    "rfind($self, haystack, start=None, end=None)\n--\n\nLike qarvo.rfind with this needle.";
constexpr const char* kFinderCountDoc =
    "count($self, haystack, start=None, end=None, *, overlapping=False)\n--\n\nLike "
    "qarvo.count with this needle.";
constexpr const char* kFinderFinditerDoc =
    "finditer($self, haystack, start=None, end=None, *, overlapping=False)\n--\n\nLike "
    "qarvo.finditer with this needle.";
constexpr const char* kFinderFindAllDoc =
    "find_all($self, haystack, start=None, end=None, *, overlapping=False)\n--\n\nLike "
    "qarvo.find_all with this needle.";
constexpr const char* kFinderReduceDoc = "Pickle support: the needle rebuilds the Finder.";
constexpr const char* kFinderNeedleDoc = "The needle, as bytes.";
constexpr const char* kFinderIgnoreCaseDoc = "Whether ASCII letters match either case.";

// ---- MultiFinder (multi_finder.cpp)
// "needles must be an iterable of needles, not 'bytes'"
constexpr const char* kNeedlesNotIterable = "needles must be an iterable of needles, not '";
constexpr const char* kNoNeedles = "MultiFinder() needs at least one needle";
constexpr const char* kNeedlesTooLong =
    "MultiFinder() takes needles of fewer than 2**30 bytes in all";
constexpr const char* kMultiFinderDoc =
    "MultiFinder(needles, *, ignore_case=False)\n--\n\nA set of needles prepared once, searched "
    "for in one pass. `needles` is an iterable of what search_n accepts as a needle (bytes-like "
    "objects, sequences of ints, or one int for one byte), at least one; duplicates and empty "
    "needles are allowed. A match is the leftmost one, and among the needles that occur there the "
    "first listed, as Python's re matches the alternation of the needles in their order; "
    "`ignore_case` folds ASCII letters only, as bytes.lower() does. Matches are (offset, index) "
    "pairs: where the match starts in the haystack and which needle it is.";
constexpr const char* kMultiFindDoc =
    "find($self, haystack, start=None, end=None)\n--\n\nReturn the first match in "
    "`haystack[start:end]` as (offset, index), or None.";
constexpr const char* kMultiCountDoc =
    "count($self, haystack, start=None, end=None)\n--\n\nReturn the number of matches in "
    "`haystack[start:end]`; each search goes on after the end of the previous match.";
constexpr const char* kMultiFinditerDoc =
    "finditer($self, haystack, start=None, end=None)\n--\n\nReturn an iterator over the "
    "matches that `count` counts, as (offset, index) pairs, left to right.";
constexpr const char* kMultiFindAllDoc =
    "find_all($self, haystack, start=None, end=None)\n--\n\nReturn the matches that `count` "
    "counts as a list of (offset, index) pairs, left to right.";
constexpr const char* kMultiReduceDoc =
    "Pickle support: the needles and ignore_case rebuild the MultiFinder.";
constexpr const char* kMultiNeedlesDoc = "The needles, as a tuple of bytes.";
constexpr const char* kMultiIgnoreCaseDoc = "Whether ASCII letters match either case.";

// ---- import (module.cpp)
constexpr const char* kSubinterpreterRefusal =
    "qarvo modules do not yet support subinterpreters, see "
    "https://docs.python.org/3/c-api/init.html#sub-interpreter-support";

// ---- argument binding (call.cpp): each message starts with the function's
// name and "()", as in "search_n()"
// " takes 2 positional arguments but 3 were given"
constexpr const char* kTooManyPositional[2] = {" takes 2 positional arguments but ", " were given"};
// " got an unexpected keyword argument 'size'"
constexpr const char* kUnexpectedKeyword = " got an unexpected keyword argument '";
// " got multiple values for argument 'haystack'"
constexpr const char* kGivenTwice = " got multiple values for argument '";
// " missing 2 required positional arguments: 'haystack' and 'needle'"
constexpr const char* kMissing[2] = {" missing ", " required positional "};

// ---- buffers (byte_view.cpp, call.hpp, needle.cpp)
constexpr const char* kShapeNull = "shape is null";
constexpr const char* kStridesNull = "strides is null";
constexpr const char* kNotBytes = "buffer contents are not compatible with u8";
constexpr const char* kHaystackNotContiguous = "haystack buffer must be contiguous";
constexpr const char* kNeedleNotContiguous = "needle buffer must be contiguous";

// ---- needles (needle.cpp)
constexpr const char* kOutOfRange = "out of range integral type conversion attempted";
constexpr const char* kNeedlePrefix = "argument 'needle': ";
// "expected a sequence of length 2 (got 3)"
constexpr const char* kWrongLength[3] = {"expected a sequence of length ", " (got ", ")"};
constexpr const char* kStrNeedle = "Can't extract `str` to `Vec`";

// ---- errors taken from and raised into the interpreter (pending_error.cpp)
constexpr const char* kNoExceptionSet = "attempted to fetch exception but none was set";
constexpr const char* kNotAnExceptionType = "exceptions must derive from BaseException";
// "'tuple' object cannot be converted to 'PyList'": pieces around the type's
// qualified name and the target, one of kSequence, kPyList, kPyString.
constexpr const char* kConversionFailed[3] = {"'", "' object cannot be converted to '", "'"};
constexpr const char* kSequence = "Sequence";
constexpr const char* kPyList = "PyList";
constexpr const char* kPyString = "PyString";

// ---- internal faults, seen by the caller as PanicException messages
constexpr const char* kApiCallFailed = "Python API call failed";
constexpr const char* kDefaultFaultText = "native code panicked";
constexpr const char* kUnwrappedPanic = "Unwrapped panic from Python code";
constexpr const char* kInvalidState =
    "PyErr state should never be invalid outside of normalization";
constexpr const char* kReentrantNormalization = "Re-entrant normalization of PyErrState detected";
constexpr const char* kNormalizingTwice = "Cannot normalize a PyErr while already normalizing it.";
constexpr const char* kExceptionMissing = "exception missing after writing to the interpreter";
constexpr const char* kPanicTypeFailed = "Failed to initialize new exception type.: ";
constexpr const char* kAppendToAllFailed = "could not append __name__ to __all__: ";
constexpr const char* kNameWithoutCell = "intern_name called with a name that has no cell";

// ---- what ends the process instead (boundary.hpp), after a report
constexpr const char* kUncaughtFault = "uncaught panic at ffi boundary";
constexpr const char* kOutOfMemory = "memory allocation failed";
constexpr const char* kForeignException = "a foreign exception reached the module boundary";

// ---- the PanicException type (panic.cpp)
constexpr const char* kPanicTypeName = "qarvo_runtime.PanicException";
constexpr const char* kPanicDoc =
    "\nThe exception raised when the native code of a Python extension module panics.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";
// Written to standard error before a PanicException that came back through
// Python code is resumed as a fault.
constexpr const char* kResumeBanner =
    "--- qarvo is resuming a panic after fetching a PanicException from Python. ---\n"
    "Python stack trace below:\n";

}  // namespace qarvo::py::messages
