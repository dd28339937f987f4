#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "error/result.hpp"
#include "format/format_limits.hpp"
#include "json/code_point_text.hpp"
#include "format/container_layout.hpp"

namespace vesk::dumps {

struct JsonContainerParts;

// Whether the caller vouches that a JSON text is well-formed UTF-8, sparing
// the plan the check.
enum class KnownUtf8 : bool { No, Yes };

// JSON text compiled into container bytes, the one way dumps takes, in two
// steps: compile() reads the text once into a flat tape of its values,
// interning strings, member names and shapes as it goes, and works out the
// container's exact size, or the error that refuses the text; write() then
// walks the tape in the compiler's order (members by name) and writes every
// block in its final place.
//
// Errors come in the order the stages meet them: the reader's (the first
// fault in the text, with its line and column), then arrays whose items
// disagree, then the writer's limits in output order (see first_refusal).
class JsonContainer {
public:
    static Result<JsonContainer> compile(std::string_view json_text,
                                         std::size_t max_container_size = format::kMaxContainerSize,
                                         KnownUtf8 known_utf8 = KnownUtf8::No);
    // The same for text of code points, read in place; it compiles as its
    // UTF-8 form would. Text with a surrogate has none, and is refused (the
    // caller may report that otherwise).
    static Result<JsonContainer> compile(const json::CodePointText& json_text,
                                         std::size_t max_container_size = format::kMaxContainerSize);

    JsonContainer(JsonContainer&&) noexcept;
    JsonContainer& operator=(JsonContainer&&) noexcept;
    ~JsonContainer();

    std::size_t size() const noexcept;

    // Fills `out`, which holds exactly size() bytes. Once only.
    void write(std::span<std::uint8_t> out);

private:
    explicit JsonContainer(std::unique_ptr<JsonContainerParts> parts) noexcept;

    template <class Read, class Describe>
    static Result<JsonContainer> compile_read(std::size_t text_size, std::size_t max_container_size, Read&& read,
                                              Describe&& describe);

    std::unique_ptr<JsonContainerParts> parts_;
};

// compile() and write() into bytes of its own, for callers that have no
// place of their own for them.
Result<format::ByteBuffer> compile_json_container(std::string_view json_text,
                                          std::size_t max_container_size = format::kMaxContainerSize);

}  // namespace vesk::dumps
