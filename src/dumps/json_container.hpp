#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "dumps/tape_losses.hpp"
#include "error/result.hpp"
#include "format/format_limits.hpp"
#include "json/code_point_text.hpp"
#include "format/container_layout.hpp"

namespace vesk::dumps {

struct JsonContainerParts;

// The memory of a compilation's tables, which a caller compiling text after
// text can lend one compilation at a time (the module keeps one), so that a
// short text takes no heap block for them: a block taken at the first
// compilation and used again by the next. A compilation that gets it holds
// it until its JsonContainer dies.
class PartsRoom {
public:
    PartsRoom() noexcept = default;
    ~PartsRoom();
    PartsRoom(const PartsRoom&) = delete;
    PartsRoom& operator=(const PartsRoom&) = delete;

    // Nothing to empty: each compilation makes its tables afresh.
    void prepare_for_reuse() noexcept {}

private:
    friend class JsonContainer;
    void* block_ = nullptr;
    bool in_use_ = false;
};

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
    // Its tables take `room` when given and free, else a block of their own.
    static Result<JsonContainer> compile(std::string_view json_text,
                                         std::size_t max_container_size = format::kMaxContainerSize,
                                         KnownUtf8 known_utf8 = KnownUtf8::No, PartsRoom* room = nullptr);
    // The same for text of code points, read in place; it compiles as its
    // UTF-8 form would. Text with a surrogate has none, and is refused (the
    // caller may report that otherwise).
    static Result<JsonContainer> compile(const json::CodePointText& json_text,
                                         std::size_t max_container_size = format::kMaxContainerSize,
                                         PartsRoom* room = nullptr);

    JsonContainer(JsonContainer&&) noexcept;
    JsonContainer& operator=(JsonContainer&&) noexcept;
    ~JsonContainer();

    // Ends the parts, and gives their memory back to the heap or the room.
    struct PartsEnd {
        PartsRoom* room = nullptr;
        void operator()(JsonContainerParts* parts) const noexcept;
    };
    using OwnedParts = std::unique_ptr<JsonContainerParts, PartsEnd>;

    // A value read from elsewhere than JSON text (pack reads Python values):
    // parts with room for a value of about `size_hint` bytes of JSON text,
    // for a TapeBuilder to read the value into as the reader would read its
    // text, and the container once it has, or the refusal, as compile()
    // gives them. `parts` are taken only when the container is made: the
    // builder, whose memory is theirs, must be gone before they are.
    static OwnedParts new_parts(std::size_t size_hint, PartsRoom* room = nullptr);
    static Result<JsonContainer> from_parts(OwnedParts&& parts, std::size_t fixed_data_size, bool noted_fault,
                                            bool may_lose,
                                            std::size_t max_container_size = format::kMaxContainerSize);

    std::size_t size() const noexcept;

    // The numbers that would not read back as given (see NumberLosses):
    // all of them counted, or only the first found. Before write().
    NumberLosses number_losses(bool count_all) const;

    // Fills `out`, which holds exactly size() bytes. Once only.
    void write(std::span<std::uint8_t> out);

private:
    explicit JsonContainer(OwnedParts parts) noexcept;

    static OwnedParts make_parts(std::size_t text_size, PartsRoom* room);
    template <class Read, class Describe>
    static Result<JsonContainer> compile_read(std::size_t text_size, std::size_t max_container_size, PartsRoom* room,
                                              Read&& read, Describe&& describe);

    OwnedParts parts_;
};

// compile() and write() into bytes of its own, for callers that have no
// place of their own for them.
Result<format::ByteBuffer> compile_json_container(std::string_view json_text,
                                          std::size_t max_container_size = format::kMaxContainerSize);

}  // namespace vesk::dumps
