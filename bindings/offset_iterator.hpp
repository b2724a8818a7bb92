// The iterator that finditer returns: it holds the haystack's buffer from
// its creation until it is exhausted or deleted, so the bytes it reads can
// be neither freed nor resized under it (a bytearray's resize meanwhile
// raises BufferError), and it finds its offsets in batches, so that a step
// rarely reaches the search core.
#pragma once

#include "result.hpp"
#include "search_args.hpp"

namespace qarvo::py {

// An iterator over the occurrences in `haystack[start:end]` (start and end
// as bytes.find takes them) of the needle `needle_object` converts to, or,
// when that is nullptr, of `prepared`. Conversions run in bytes.find's
// order once the haystack's buffer is held: start and end, then the needle.
Result<OwnedRef> make_offset_iterator(PyObject* haystack, PyObject* start, PyObject* end,
                                      PyObject* needle_object, ByteRange prepared,
                                      Matching matching);

}  // namespace qarvo::py
