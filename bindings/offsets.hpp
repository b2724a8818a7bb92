// What find_all returns: a read-only sequence of int offsets that exports
// its items as a buffer of 64-bit integers (format "q"), so NumPy and
// memoryview take them without a copy. The offsets are collected into a raw
// buffer, which needs no interpreter lock, and the object adopts it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "result.hpp"

namespace qarvo::py {

// Offsets held in place, by the buffer before it grows and by the object
// that takes them: a result of a few matches, the common answer of a short
// haystack, costs no allocation beside the object's own (find_all's 32-byte
// rows of compare_matches.py).
inline constexpr std::size_t kInlineOffsets = 8;

// A growing run of offsets, in place up to kInlineOffsets and then in memory
// from PyMem_RawMalloc: usable with the interpreter lock given up. Freed
// unless adopted by make_offsets.
class OffsetBuffer {
public:
    OffsetBuffer() = default;
    ~OffsetBuffer();
    OffsetBuffer(const OffsetBuffer&) = delete;
    OffsetBuffer& operator=(const OffsetBuffer&) = delete;

    // Room for at least `wanted` more offsets after the ones kept, or an empty
    // span once an allocation has failed.
    std::span<std::uint64_t> room(std::size_t wanted) noexcept;
    // The first `count` offsets of the last room() are kept.
    void keep(std::size_t count) noexcept { size_ += count; }

    bool failed() const noexcept { return failed_; }
    std::size_t size() const noexcept { return size_; }

private:
    friend Result<OwnedRef> make_offsets(OffsetBuffer& buffer, std::uint64_t base);

    bool in_place() const noexcept { return data_ == in_place_; }

    std::uint64_t in_place_[kInlineOffsets];
    std::uint64_t* data_ = in_place_;
    std::size_t size_ = 0;
    std::size_t capacity_ = kInlineOffsets;
    bool failed_ = false;
};

// The Offsets object holding the buffer's offsets plus `base` (the buffer is
// empty afterwards); MemoryError when the buffer ran out of memory.
Result<OwnedRef> make_offsets(OffsetBuffer& buffer, std::uint64_t base);

}  // namespace qarvo::py
