#pragma once

#include <Python.h>

#include <bit>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "loads/container_scan.hpp"
#include "loads/number_sharing.hpp"
#include "python/key_cache.hpp"
#include "python/py_ref.hpp"

namespace vesk::python {

// The int and float objects that repeated numbers share (the rule is
// loads::NumberSharing's). Ints from -5 to 256 are the interpreter's own
// shared objects and never come here.
class NumberCache {
public:
    explicit NumberCache(std::uint64_t numbers) : sharing_(numbers) {}
    ~NumberCache() { clear(); }
    NumberCache(const NumberCache&) = delete;
    NumberCache& operator=(const NumberCache&) = delete;

    // A new reference to the object for `key`, made by `make` when the cache
    // does not hold it; nullptr with the Python exception set on failure.
    template <class Make>
    PyObject* get(std::uint64_t key, Make&& make) {
        Sharing::Entry* entry = nullptr;
        switch (sharing_.look(key, entry)) {
            case Sharing::Look::Hit: Py_INCREF(entry->object); return entry->object;
            case Sharing::Look::Miss: {
                PyObject* made = make();
                if (made == nullptr) return nullptr;
                Py_INCREF(made);
                Py_XDECREF(entry->object);
                entry->key = key;
                entry->object = made;
                return made;
            }
            case Sharing::Look::Ended: clear(); return make();
            case Sharing::Look::Off: return make();
        }
        return nullptr;
    }

private:
    using Sharing = loads::NumberSharing<PyObject*>;

    void clear() {
        for (Sharing::Entry& entry : sharing_.entries()) Py_XDECREF(entry.object);
        sharing_.drop();
    }

    Sharing sharing_;
};

// The tables of an ObjectBuilder, kept between calls (see ReadTables): the
// builder fills them in and leaves them empty.
struct BuilderTables {
    // Owned references, made on first use: one per field, one per dictionary string.
    std::vector<PyObject*> keys;
    std::vector<PyObject*> strings;
    std::vector<std::uint8_t> keys_made;  // per definition: 0 or 1
    // Owned references, so that a container the walk drops before the end
    // (the value of a repeated key that a later field replaces) cannot be
    // freed and its memory reused by another container while still listed
    // here. Reserved for every array and object the scan counted, and the
    // list of the chunks.
    std::vector<PyObject*> untracked;

    std::size_t capacity_bytes() const noexcept {
        return (keys.capacity() + strings.capacity() + untracked.capacity()) * sizeof(PyObject*) +
               keys_made.capacity();
    }
};

// The Python side of ContainerWalk: makes the objects of a container in
// which scan_container found no fault. Field names become str objects once per
// definition, dictionary strings one str at their first reference, and every
// further use adds a reference. Lists are made at their final length, dicts
// at their final size.
//
// Lists and dicts stay out of the cyclic collector's sight while the value
// is built: making them runs collections, which would otherwise walk every
// container made so far again and again, and could meet a list whose slots
// are not yet filled. `track_all` hands them to the collector once the value
// is complete; until then nothing but this call can reach them.
//
// Failures leave a Python exception set, except inline text that is not
// UTF-8, which `text_fault()` reports with no exception set: the reader's
// fault, since the scan found none before it.
class ObjectBuilder {
public:
    using Value = PyRef;
    using List = PyRef;
    using Dict = PyRef;

    // Its tables are `tables`, empty; member names come from `keys`.
    ObjectBuilder(std::span<const std::uint8_t> container, const loads::ContainerScan& scan, BuilderTables& tables,
                  KeyCache& keys);
    ~ObjectBuilder();
    ObjectBuilder(const ObjectBuilder&) = delete;
    ObjectBuilder& operator=(const ObjectBuilder&) = delete;

    const std::optional<loads::ReadFault>& text_fault() const noexcept { return text_fault_; }

    bool null(PyRef& out) {
        out = PyRef::borrow(Py_None);
        return true;
    }

    bool boolean(bool value, PyRef& out) {
        out = PyRef::borrow(value ? Py_True : Py_False);
        return true;
    }

    bool int32(std::int32_t value, PyRef& out) {
        if (value >= -5 && value <= 256) {
            out = PyRef(PyLong_FromLong(value));
        } else {
            out = PyRef(numbers_.get(loads::int32_key(value), [value] { return PyLong_FromLong(value); }));
        }
        return static_cast<bool>(out);
    }

    bool uint32(std::uint32_t value, PyRef& out) {
        // Below 2**31 the value is an Int32 as well, and shares its objects.
        if (value <= 0x7FFFFFFFu) return int32(static_cast<std::int32_t>(value), out);
        out = PyRef(numbers_.get(loads::uint32_key(value), [value] { return PyLong_FromUnsignedLong(value); }));
        return static_cast<bool>(out);
    }

    bool float32(std::uint32_t bits, PyRef& out) {
        out = PyRef(numbers_.get(loads::float32_key(bits), [bits] {
            return PyFloat_FromDouble(static_cast<double>(std::bit_cast<float>(bits)));
        }));
        return static_cast<bool>(out);
    }

    bool text(const std::uint8_t* data, std::size_t size, PyRef& out);

    bool dict_text(std::uint32_t index, PyRef& out) {
        PyObject*& made = tables_.strings[index];
        if (made == nullptr && !make_dict_string(index)) return false;
        out = PyRef::borrow(made);
        return true;
    }

    bool begin_list(std::size_t count, PyRef& list) {
        list = PyRef(PyList_New(static_cast<Py_ssize_t>(count)));
        if (!list) return false;
        hold_untracked(list.get());
        return true;
    }

    void set_item(PyRef& list, std::size_t position, PyRef&& item) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(position), item.release());
    }

    void end_list(PyRef& list, PyRef& out) { out = std::move(list); }

    bool begin_dict(std::uint32_t definition, PyRef& dict);

    bool set_member(PyRef& dict, std::uint32_t field, PyRef&& value) {
        const PyRef owned = std::move(value);
        return PyDict_SetItem(dict.get(), tables_.keys[field], owned.get()) == 0;
    }

    void end_dict(PyRef& dict, PyRef& out) {
        // Storing a list or dict in it made the collector track it; one that
        // holds neither stays untracked, as the interpreter leaves it.
        if (PyObject_GC_IsTracked(dict.get())) hold_untracked(dict.get());
        out = std::move(dict);
    }

    // Hands the lists and dicts of the complete value to the collector.
    // Those the value no longer holds (a repeated key's losing value) go.
    void track_all() {
        for (PyObject* container : tables_.untracked) {
            PyObject_GC_Track(container);
            Py_DECREF(container);
        }
        tables_.untracked.clear();
    }

private:
    bool make_dict_string(std::uint32_t index);
    void hold_untracked(PyObject* container) {
        PyObject_GC_UnTrack(container);
        tables_.untracked.push_back(container);
        Py_INCREF(container);
    }
    [[gnu::cold, gnu::noinline]] void note_text_fault(const std::uint8_t* data, std::size_t size);
    bool make_keys(const loads::ScanDefinition& definition);

    std::span<const std::uint8_t> container_;
    const loads::ContainerScan& scan_;
    NumberCache numbers_;
    BuilderTables& tables_;
    KeyCache& key_cache_;
    std::optional<loads::ReadFault> text_fault_;
};

}  // namespace vesk::python
