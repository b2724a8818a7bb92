#include "offsets.hpp"

#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "boundary.hpp"
#include "type_objects.hpp"

namespace qarvo::py {
namespace {

struct OffsetsObject {
    // in_place, or owned memory from PyMem_RawMalloc; immutable once made
    PyObject_HEAD std::int64_t* items;
    Py_ssize_t length;
    Py_ssize_t stride;  // sizeof(std::int64_t), for the exported buffer's strides
    std::int64_t in_place[kInlineOffsets];
};

OffsetsObject* as_offsets(PyObject* self) noexcept {
    return reinterpret_cast<OffsetsObject*>(self);
}

void offsets_dealloc(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    OffsetsObject* offsets = as_offsets(self);
    if (offsets->items != offsets->in_place) {
        PyMem_RawFree(offsets->items);
    }
    type->tp_free(self);
    Py_DECREF(type);
}

Py_ssize_t offsets_length(PyObject* self) noexcept {
    return as_offsets(self)->length;
}

PyObject* offsets_item(PyObject* self, Py_ssize_t index) noexcept {
    OffsetsObject* offsets = as_offsets(self);
    if (index < 0 || index >= offsets->length) {
        PyErr_SetString(PyExc_IndexError, "Offsets index out of range");
        return nullptr;
    }
    return PyLong_FromLongLong(offsets->items[index]);
}

// A new Offsets of `length` items copied from `from` with `step`.
PyObject* offsets_slice(OffsetsObject* source, Py_ssize_t start, Py_ssize_t step,
                        Py_ssize_t length) noexcept {
    OffsetBuffer buffer;
    const std::span<std::uint64_t> room = buffer.room(static_cast<std::size_t>(length));
    if (buffer.failed()) {
        return PyErr_NoMemory();
    }
    for (Py_ssize_t i = 0; i < length; ++i) {
        room[static_cast<std::size_t>(i)] =
            static_cast<std::uint64_t>(source->items[start + i * step]);
    }
    buffer.keep(static_cast<std::size_t>(length));
    return run_boundary([&] { return make_offsets(buffer, 0); });
}

PyObject* offsets_subscript(PyObject* self, PyObject* key) noexcept {
    OffsetsObject* offsets = as_offsets(self);
    if (PySlice_Check(key)) {
        Py_ssize_t start = 0;
        Py_ssize_t stop = 0;
        Py_ssize_t step = 0;
        if (PySlice_Unpack(key, &start, &stop, &step) < 0) {
            return nullptr;
        }
        const Py_ssize_t length = PySlice_AdjustIndices(offsets->length, &start, &stop, step);
        return offsets_slice(offsets, start, step, length);
    }
    Py_ssize_t index = PyNumber_AsSsize_t(key, PyExc_IndexError);
    if (index == -1 && PyErr_Occurred()) {
        return nullptr;
    }
    if (index < 0) {
        index += offsets->length;
    }
    return offsets_item(self, index);
}

int offsets_getbuffer(PyObject* self, Py_buffer* view, int flags) noexcept {
    if ((flags & PyBUF_WRITABLE) == PyBUF_WRITABLE) {
        PyErr_SetString(PyExc_BufferError, "Offsets is read-only");
        view->obj = nullptr;
        return -1;
    }
    OffsetsObject* offsets = as_offsets(self);
    view->buf = offsets->items;
    view->obj = Py_NewRef(self);
    view->len = offsets->length * offsets->stride;
    view->readonly = 1;
    view->itemsize = offsets->stride;
    view->format = (flags & PyBUF_FORMAT) == PyBUF_FORMAT ? const_cast<char*>("q") : nullptr;
    view->ndim = 1;
    view->shape = (flags & PyBUF_ND) == PyBUF_ND ? &offsets->length : nullptr;
    view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? &offsets->stride : nullptr;
    view->suboffsets = nullptr;
    view->internal = nullptr;
    return 0;
}

PyObject* offsets_repr(PyObject* self) noexcept {
    OwnedRef items = OwnedRef::steal(PySequence_List(self));
    if (!items) {
        return nullptr;
    }
    return PyUnicode_FromFormat("qarvo.Offsets(%R)", items.get());
}

PyObject* offsets_richcompare(PyObject* self, PyObject* other, int op) noexcept {
    // Equal to any Offsets, list or tuple holding the same ints in order.
    if ((op != Py_EQ && op != Py_NE) ||
        !(PyList_Check(other) || PyTuple_Check(other) || Py_TYPE(other) == Py_TYPE(self))) {
        Py_RETURN_NOTIMPLEMENTED;
    }
    OwnedRef mine = OwnedRef::steal(PySequence_List(self));
    OwnedRef theirs = OwnedRef::steal(PySequence_List(other));
    if (!mine || !theirs) {
        return nullptr;
    }
    return PyObject_RichCompare(mine.get(), theirs.get(), op);
}

PyType_Slot offsets_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&offsets_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(&offsets_repr)},
    {Py_tp_richcompare, reinterpret_cast<void*>(&offsets_richcompare)},
    {Py_sq_length, reinterpret_cast<void*>(&offsets_length)},
    {Py_sq_item, reinterpret_cast<void*>(&offsets_item)},
    {Py_mp_length, reinterpret_cast<void*>(&offsets_length)},
    {Py_mp_subscript, reinterpret_cast<void*>(&offsets_subscript)},
    {Py_bf_getbuffer, reinterpret_cast<void*>(&offsets_getbuffer)},
    {Py_tp_doc,
     const_cast<char*>("The offsets find_all found: a read-only sequence of ints that exports "
                       "a buffer of 64-bit integers (format 'q').")},
    {0, nullptr},
};

PyType_Spec offsets_spec = {
    .name = "qarvo.Offsets",
    .basicsize = static_cast<int>(sizeof(OffsetsObject)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_SEQUENCE,
    .slots = offsets_slots,
};

LazyType offsets_type{offsets_spec};

}  // namespace

OffsetBuffer::~OffsetBuffer() {
    if (!in_place()) {
        PyMem_RawFree(data_);
    }
}

std::span<std::uint64_t> OffsetBuffer::room(std::size_t wanted) noexcept {
    if (failed_) {
        return {};
    }
    if (capacity_ - size_ < wanted) {
        std::size_t capacity = capacity_ < 16 ? 16 : capacity_;
        while (capacity - size_ < wanted) {
            capacity *= 2;
        }
        if (capacity > std::numeric_limits<std::size_t>::max() / sizeof(std::uint64_t)) {
            failed_ = true;
            return {};
        }
        void* grown = in_place() ? PyMem_RawMalloc(capacity * sizeof(std::uint64_t))
                                 : PyMem_RawRealloc(data_, capacity * sizeof(std::uint64_t));
        if (grown == nullptr) {
            failed_ = true;
            return {};
        }
        if (in_place()) {
            std::memcpy(grown, in_place_, size_ * sizeof(std::uint64_t));
        }
        data_ = static_cast<std::uint64_t*>(grown);
        capacity_ = capacity;
    }
    return {data_ + size_, capacity_ - size_};
}

Result<OwnedRef> make_offsets(OffsetBuffer& buffer, std::uint64_t base) {
    if (buffer.failed_) {
        static_cast<void>(PyErr_NoMemory());
        return fetch_error();
    }
    Result<PyTypeObject*> type = offsets_type.get();
    if (!type) {
        return std::move(type).error();
    }
    OwnedRef object = OwnedRef::steal(type.value()->tp_alloc(type.value(), 0));
    if (!object) {
        return fetch_error();
    }
    static_assert(sizeof(std::int64_t) == sizeof(std::uint64_t));
    OffsetsObject* offsets = as_offsets(object.get());
    if (base != 0) {
        for (std::size_t i = 0; i < buffer.size_; ++i) {
            buffer.data_[i] += base;
        }
    }
    if (buffer.in_place()) {
        std::memcpy(offsets->in_place, buffer.in_place_, buffer.size_ * sizeof(std::uint64_t));
        offsets->items = offsets->in_place;
    } else {
        offsets->items = reinterpret_cast<std::int64_t*>(buffer.data_);
    }
    offsets->length = static_cast<Py_ssize_t>(std::exchange(buffer.size_, 0));
    offsets->stride = static_cast<Py_ssize_t>(sizeof(std::int64_t));
    buffer.data_ = buffer.in_place_;
    buffer.capacity_ = kInlineOffsets;
    return object;
}

}  // namespace qarvo::py
