#include "interned.hpp"

#include <atomic>
#include <cstring>

#include "fault.hpp"
#include "messages.hpp"

namespace qarvo::py {

PyObject* intern_name(const char* name) {
    struct Cell {
        const char* text;
        std::atomic<PyObject*> interned{nullptr};
    };
    static Cell cells[] = {{"__all__"}, {"__name__"}, {"io"}, {"StringIO"}, {"getvalue"}};
    for (Cell& cell : cells) {
        if (std::strcmp(cell.text, name) != 0) {
            continue;
        }
        if (PyObject* interned = cell.interned.load(std::memory_order_acquire)) {
            return interned;
        }
        PyObject* created = PyUnicode_FromString(name);
        if (created == nullptr) {
            api_call_failed();
        }
        PyUnicode_InternInPlace(&created);
        PyObject* stored = nullptr;
        if (!cell.interned.compare_exchange_strong(stored, created, std::memory_order_acq_rel)) {
            release_reference(created);
            return stored;
        }
        return created;
    }
    raise_fault(messages::kNameWithoutCell);
}

}  // namespace qarvo::py
