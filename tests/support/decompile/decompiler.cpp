#include "decompile/decompiler.hpp"

#include "decompile/json_converter.hpp"

namespace vesk {

namespace {

Result<json::JsonValue> run(JsonConverter& converter, const VeskData& data, bool nested) {
    json::JsonValue out;
    if (!converter.convert(data, out, nested)) return converter.take_error();
    return out;
}

}  // namespace

Result<json::JsonValue> decompile_document(const VeskDocument& document) {
    const std::vector<VeskChunk>& chunks = document.chunks;
    if (chunks.empty()) return json::JsonValue::null();
    JsonConverter converter(document.definitions, document.dict);
    if (chunks.size() == 1) return run(converter, chunks.front().data, false);

    // Several chunks read as one array, each chunk converted as a chunk.
    json::JsonValue root = json::JsonValue::array();
    root.items.reserve(chunks.size());
    for (const VeskChunk& chunk : chunks) {
        if (!converter.convert(chunk.data, root.items.emplace_back(), false)) return converter.take_error();
    }
    return root;
}

Result<json::JsonValue> chunk_to_json(const VeskChunk& chunk, const std::vector<VeskDefinition>& definitions,
                                const std::vector<std::string>& dict) {
    JsonConverter converter(definitions, dict);
    return run(converter, chunk.data, false);
}

Result<json::JsonValue> data_to_json(const VeskData& data, const std::vector<VeskDefinition>& definitions,
                               const std::vector<std::string>& dict) {
    JsonConverter converter(definitions, dict);
    return run(converter, data, true);
}

}  // namespace vesk
