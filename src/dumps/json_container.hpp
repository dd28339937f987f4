#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "error/result.hpp"
#include "format/format_limits.hpp"
#include "json/code_point_text.hpp"
#include "structure/document.hpp"

namespace vesk {

struct JsonContainerParts;

// Whether the caller vouches that a JSON text is well-formed UTF-8, sparing
// the plan the check.
enum class KnownUtf8 : bool { No, Yes };

// JSON text compiled straight into container bytes, in two steps: plan()
// reads the text once into a flat tape of its values, interning strings,
// member names and shapes as it goes, and works out the container's exact
// size; write() then walks the tape in the compiler's order (members by name)
// and writes every block in its final place. The bytes are those that
// compile_json_str and encode_document give.
//
// The plan declines, rather than fails, whatever it leaves to that document
// path, which reports it: text that is not JSON, arrays whose items disagree
// and anything beyond the container's limits (also where only values that a
// repeated member name drops hold the fault).
class JsonContainer {
public:
    static std::optional<JsonContainer> plan(std::string_view json_text,
                                             std::size_t max_container_size = kMaxContainerSize,
                                             KnownUtf8 known_utf8 = KnownUtf8::No);
    // The same for text of code points, read in place; it compiles as its
    // UTF-8 form would. Text with a surrogate has none, and is declined.
    static std::optional<JsonContainer> plan(const CodePointText& json_text,
                                             std::size_t max_container_size = kMaxContainerSize);

    JsonContainer(JsonContainer&&) noexcept;
    JsonContainer& operator=(JsonContainer&&) noexcept;
    ~JsonContainer();

    std::size_t size() const noexcept;

    // Fills `out`, which holds exactly size() bytes. Once only.
    void write(std::span<std::uint8_t> out);

private:
    explicit JsonContainer(std::unique_ptr<JsonContainerParts> parts) noexcept;

    template <class Read>
    static std::optional<JsonContainer> plan_read(std::size_t text_size, std::size_t max_container_size, Read&& read);

    std::unique_ptr<JsonContainerParts> parts_;
};

// The container of a JSON text, or the error the document path reports for
// it: the plan first, compile_json_str and encode_document_within where it
// declines.
Result<ByteBuffer> compile_json_container(std::string_view json_text,
                                          std::size_t max_container_size = kMaxContainerSize);

// The document path alone.
Result<ByteBuffer> compile_json_document_container(std::string_view json_text,
                                                   std::size_t max_container_size = kMaxContainerSize);

}  // namespace vesk
