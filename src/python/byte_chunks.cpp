#include "python/byte_chunks.hpp"

#include <algorithm>
#include <cstring>

namespace vesk::python {

namespace {

constexpr std::size_t kFirstChunk = std::size_t{1} << 20;
constexpr std::size_t kLargestChunk = std::size_t{64} << 20;

}  // namespace

std::span<std::uint8_t> ByteChunks::room() {
    if (chunks_.empty() || chunks_.back().used == chunks_.back().capacity) {
        const std::size_t doubled = chunks_.empty() ? kFirstChunk : std::min(2 * chunks_.back().capacity, kLargestChunk);
        const std::size_t capacity = std::min(doubled, limit_ + 1 - std::min(size_, limit_));
        if (capacity == 0) return {};
        chunks_.reserve(chunks_.size() + 1);
        // Left uninitialised: a page of it is touched only once written.
        chunks_.push_back(Chunk{std::make_unique_for_overwrite<std::uint8_t[]>(capacity), capacity, 0});
    }
    Chunk& last = chunks_.back();
    return {last.bytes.get() + last.used, last.capacity - last.used};
}

void ByteChunks::commit(std::size_t count) noexcept {
    chunks_.back().used += count;
    size_ += count;
}

void ByteChunks::append(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const std::span<std::uint8_t> free = room();
        if (free.empty()) return;  // past the limit, which callers check first
        const std::size_t count = std::min(free.size(), bytes.size());
        std::memcpy(free.data(), bytes.data(), count);
        commit(count);
        bytes = bytes.subspan(count);
    }
}

format::ByteBuffer ByteChunks::join() {
    if (chunks_.empty()) return std::move(first_);
    format::ByteBuffer whole;
    // Reserved, not resized: resizing would write every page at once.
    whole.reserve(size_);
    whole.insert(whole.end(), first_.begin(), first_.end());
    format::ByteBuffer().swap(first_);
    for (Chunk& chunk : chunks_) {
        whole.insert(whole.end(), chunk.bytes.get(), chunk.bytes.get() + chunk.used);
        chunk.bytes.reset();
    }
    chunks_.clear();
    return whole;
}

}  // namespace vesk::python
