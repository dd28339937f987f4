#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <memory_resource>
#include <vector>

#include "tables/table_memory.hpp"

namespace vesk::emit {

// The data of a container being written. Where its block starts is known
// only at the end, once the definitions and the dictionary are complete, so
// it is written into chunks of its own, which never move (headers and
// numbers are patched through pointers), and copied out in one go. The first
// chunk is part of this object, so a small value allocates none.
class DataChunks {
public:
    // Every chunk has room for this many bytes past its limit, which never
    // hold data, so that a string's encoding can be read, and a short one
    // moved, in whole blocks of this size.
    static constexpr std::size_t kSlack = 32;

    // A piece of the data: part of a chunk, or bytes that lie elsewhere.
    struct Piece {
        const std::uint8_t* start;
        std::size_t size;
    };

    // The first `reserved` bytes of the first chunk are the caller's, to be
    // filled in at the end; the data starts after them.
    DataChunks(std::pmr::memory_resource* memory, std::size_t reserved) noexcept;

    DataChunks(const DataChunks&) = delete;
    DataChunks& operator=(const DataChunks&) = delete;

    // Room for `bytes` in one piece at the cursor. Writers move the cursor
    // on from the place it returns (move_to), not by adding to the cursor:
    // for all the compiler knows, the bytes they store may have changed the
    // cursor itself, which it would then read back.
    std::uint8_t* room(std::size_t bytes) {
        if (static_cast<std::size_t>(limit_ - cursor_) < bytes) [[unlikely]]
            next_chunk(bytes);
        return cursor_;
    }
    void move_to(std::uint8_t* end) noexcept { cursor_ = end; }
    std::uint8_t* cursor() const noexcept { return cursor_; }

    // Bytes written so far, the reserved ones included.
    std::size_t size() const noexcept { return chunked_ + static_cast<std::size_t>(cursor_ - chunk_start_); }

    // The reserved bytes.
    std::uint8_t* reserved() noexcept { return first_chunk_; }

    // `size` bytes at `piece`, which stay there unchanged until copied out,
    // become the next piece of the data; the chunk goes on after them.
    void add_piece(const std::uint8_t* piece, std::size_t size);

    // Copies the data to `to` and returns its end; `copied(piece, at)` is
    // told of every piece but the last, with where it went.
    template <class Copied>
    std::uint8_t* copy_to(std::uint8_t* to, Copied&& copied) const {
        for (const Piece& piece : pieces_) {
            std::memcpy(to, piece.start, piece.size);
            copied(piece, to);
            to += piece.size;
        }
        const auto rest = static_cast<std::size_t>(cursor_ - chunk_start_);
        std::memcpy(to, chunk_start_, rest);
        return to + rest;
    }

private:
    static constexpr std::size_t kFirstChunkSize = 1024;
    static constexpr std::size_t kLargestChunkSize = std::size_t{1} << 20;

    void next_chunk(std::size_t bytes);
    void end_piece_here();

    std::uint8_t first_chunk_[kFirstChunkSize + kSlack];
    std::vector<std::unique_ptr<std::uint8_t[]>> chunk_storage_;
    tables::TableVector<Piece> pieces_;  // the data before chunk_start_
    std::size_t chunked_ = 0;    // bytes in pieces_
    std::size_t next_chunk_size_ = 2 * kFirstChunkSize;
    std::uint8_t* chunk_start_;
    std::uint8_t* cursor_;
    std::uint8_t* limit_;
};

}  // namespace vesk::emit
