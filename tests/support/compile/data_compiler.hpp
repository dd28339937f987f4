#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "structure/document.hpp"

namespace vesk {

// Hashes std::string and std::string_view alike, so that a map keyed by
// std::string can be searched with a view and a known key costs no allocation.
struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
};

template <class Value>
using TextMap = std::unordered_map<std::string, Value, TextHash, std::equal_to<>>;

// The rules of emit stated plainly, over a value tree: emit itself writes
// its container in one pass over the Python value (DataContainer), and the
// tests hold it to what this compiler and the document writer make of the
// same value.
//
// Compiles a value tree made from a Python value (every index field 0, every
// string inline, dict items stored as alternating key and value) into the
// parts of a one-chunk document, in two passes:
//   walk             numbers each distinct array and object shape and collects
//                    every distinct string, in first-occurrence order;
//   rewrite_indices  writes each container's definition index into the tree.
// The hash maps serve lookups only; every number handed out follows the walk
// order, so equal input always gives equal output.
//
// Recursion follows the nesting of the tree; the producer bounds that depth.
class DataCompiler {
public:
    DataCompiler();

    // First pass. Reads the tree without changing it.
    void walk(const VeskData& value);

    // Second pass, on the same tree that was walked (or a tree of the same
    // form). The tree is consumed: strings and child vectors are moved into
    // the result rather than copied, halving the peak memory; the input is
    // left in a moved-from state. Containers take their indices in the order walk recorded
    // them, so rewrite_indices must see the tree exactly once.
    VeskData rewrite_indices(VeskData&& value);

    std::vector<VeskDefinition> definitions;
    TextMap<std::uint16_t> object_shapes;
    TextMap<std::uint16_t> array_shapes;
    std::vector<std::string> dict;
    TextMap<std::uint32_t> dict_index;
    // The definition index of every array and object, in pre-order (a
    // container before its contents), which is also the order in which
    // rewrite_indices meets them.
    std::vector<std::uint16_t> container_def_indices;
    std::uint16_t next_def_index = format::kPrimitiveDefinitionCount;

private:
    void walk_string(const std::string& text);
    void walk_array(const VeskData& array);
    void walk_object(const VeskData& object);
    void assign_indices(VeskData& value);
    std::uint16_t intern_shape(TextMap<std::uint16_t>& shapes, std::string_view key, VeskDefinition definition);

    std::size_t rewrite_cursor_ = 0;
    std::string key_scratch_;
};

// Runs both passes on a tree converted from a Python value and builds its
// one-chunk document. Consumes the tree.
VeskDocument compile_data_document(VeskData root);

}  // namespace vesk
