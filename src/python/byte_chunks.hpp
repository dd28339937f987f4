#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "format/container_layout.hpp"

namespace vesk::python {

// The bytes of a stream of unknown length, gathered in chunks that double
// from 1 MiB to 64 MiB and joined into one buffer at the end. A buffer grown
// in place would copy everything read at each step and hold both copies
// meanwhile (7 GB of memory to find that /dev/zero passes the 4 GiB size
// limit). The join fills a buffer whose pages are touched only as they are
// written and hands each chunk back once copied, so that gathering n bytes
// takes n bytes and one chunk at the most.
class ByteChunks {
public:
    // Holds `first` (a buffer already read, whole) before any chunk, and
    // never offers room past one byte more than `limit` in all: that byte,
    // received, says the stream is too long.
    ByteChunks(format::ByteBuffer first, std::size_t limit) noexcept : first_(std::move(first)), limit_(limit) {}

    std::size_t size() const noexcept { return size_; }
    bool past_limit() const noexcept { return size_ > limit_; }

    // Free room at the end, at least one byte unless the limit has been
    // passed; `count` bytes written there are then kept by commit(count).
    // Throws std::bad_alloc.
    std::span<std::uint8_t> room();
    void commit(std::size_t count) noexcept;

    // Copies `bytes` in, through room() and commit(); at most the limit less
    // size() of them. Throws std::bad_alloc.
    void append(std::span<const std::uint8_t> bytes);

    // Every byte, in order, in one buffer; the chunks are gone after it.
    // Throws std::bad_alloc.
    format::ByteBuffer join();

private:
    struct Chunk {
        std::unique_ptr<std::uint8_t[]> bytes;
        std::size_t capacity = 0;
        std::size_t used = 0;
    };

    format::ByteBuffer first_;
    std::vector<Chunk> chunks_;
    std::size_t limit_;
    std::size_t size_ = first_.size();
};

}  // namespace vesk::python
