#include "compile/compile_json.hpp"

#include "compile/compile_builder.hpp"
#include "json/json_reader.hpp"

namespace vesk {

Result<VeskDocument> compile_json_str(std::string_view json_text) {
    Result<json::JsonValue> tree = parse_json(json_text);
    if (!tree) return std::move(tree).error();
    CompileBuilder builder;
    Result<VeskData> root = builder.compile_inline(*tree);
    if (!root) return std::move(root).error();
    return single_chunk_document(std::move(builder.definitions), std::move(builder.dict), std::move(*root));
}

}  // namespace vesk
