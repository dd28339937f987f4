#pragma once

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace vesk::loads {

// A growing buffer of text written through raw pointers: a writer reserves
// room for the most a piece can take, writes it and advances by what it
// took, so short pieces cost no check per byte.
class TextOut {
public:
    TextOut() = default;
    TextOut(const TextOut&) = delete;
    TextOut& operator=(const TextOut&) = delete;
    TextOut(TextOut&&) noexcept = default;
    TextOut& operator=(TextOut&&) noexcept = default;

    // Room for `count` more bytes at the end; valid until the next reserve.
    char* reserve(std::size_t count) {
        if (capacity_ - size_ < count) grow(count);
        return data_.get() + size_;
    }
    void advance(std::size_t count) noexcept { size_ += count; }

    void put(char c) {
        *reserve(1) = c;
        ++size_;
    }
    void append(const void* bytes, std::size_t count) {
        std::memcpy(reserve(count), bytes, count);
        size_ += count;
    }
    void append(std::string_view text) { append(text.data(), text.size()); }
    void fill(char c, std::size_t count) {
        std::memset(reserve(count), c, count);
        size_ += count;
    }

    // Drops everything from `size` on.
    void truncate(std::size_t size) noexcept { size_ = size; }
    void clear() noexcept { size_ = 0; }

    std::size_t size() const noexcept { return size_; }
    const char* data() const noexcept { return data_.get(); }
    std::string_view view() const noexcept { return {data_.get(), size_}; }

private:
    void grow(std::size_t count) {
        std::size_t capacity = capacity_ < 256 ? 256 : capacity_ * 2;
        if (capacity - size_ < count) capacity = size_ + count;
        std::unique_ptr<char[]> larger = std::make_unique_for_overwrite<char[]>(capacity);
        if (size_ > 0) std::memcpy(larger.get(), data_.get(), size_);
        data_ = std::move(larger);
        capacity_ = capacity;
    }

    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace vesk::loads
