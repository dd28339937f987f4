#include "emit/data_chunks.hpp"

#include <algorithm>
#include <cstring>

namespace vesk::emit {

namespace {

// Pieces and chunks of a value of some size, at once.
constexpr std::size_t kFirstPieces = 16;

}  // namespace

DataChunks::DataChunks(std::pmr::memory_resource* memory, std::size_t reserved) noexcept
    : pieces_(memory),
      chunk_start_(first_chunk_),
      cursor_(first_chunk_ + reserved),
      limit_(first_chunk_ + kFirstChunkSize) {}

void DataChunks::end_piece_here() {
    if (pieces_.empty()) pieces_.reserve(kFirstPieces);
    pieces_.push_back(Piece{chunk_start_, static_cast<std::size_t>(cursor_ - chunk_start_)});
    chunked_ += pieces_.back().size;
}

void DataChunks::next_chunk(std::size_t bytes) {
    if (chunk_storage_.empty()) chunk_storage_.reserve(kFirstPieces);
    const std::size_t size = std::max(bytes, next_chunk_size_);
    auto storage = std::make_unique_for_overwrite<std::uint8_t[]>(size + kSlack);
    end_piece_here();
    chunk_start_ = cursor_ = storage.get();
    limit_ = chunk_start_ + size;
    chunk_storage_.push_back(std::move(storage));
    next_chunk_size_ = std::min(2 * next_chunk_size_, kLargestChunkSize);
}

void DataChunks::add_piece(const std::uint8_t* piece, std::size_t size) {
    end_piece_here();
    pieces_.push_back(Piece{piece, size});
    chunked_ += size;
    chunk_start_ = cursor_;
}

}  // namespace vesk::emit
