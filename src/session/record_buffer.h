// The record being received: grows to what a receive may add, and goes back
// to its first size once several records in a row have passed after growing.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace session {

class RecordBuffer {
  public:
    // Upper bound; a longer record ends the session.
    static constexpr int32_t kMax = 4 * 1024 * 1024;

    void Attach(int32_t initial);
    void Release();
    // Whether incoming more bytes could all be stored: false when that would pass kMax.
    // Room is made as bytes are stored, since a receive's whole records are never stored.
    bool Fit(size_t incoming) const { return ptr_ + incoming <= static_cast<size_t>(kMax); }
    void Store(uint8_t c) {
        if (ptr_ >= buf_.size()) Grow(ptr_ + 1);
        buf_[ptr_++] = c;
    }
    void Append(const uint8_t* bytes, size_t n) {
        if (ptr_ + n > buf_.size()) Grow(ptr_ + n);
        std::memcpy(buf_.data() + ptr_, bytes, n);
        ptr_ += n;
    }
    void Reset() { ptr_ = 0, length_ = 0; }
    bool Empty() const { return ptr_ == 0; }
    void MarkLength() { length_ = static_cast<int32_t>(ptr_); }
    int32_t Length() const { return length_; }
    std::span<const uint8_t> Record() const { return {buf_.data(), static_cast<size_t>(length_)}; }
    // After a record went through: back to the first size after 8 records.
    void Passed();
    size_t Capacity() const { return buf_.size(); }

  private:
    void Resize(int32_t wanted);
    // Room for wanted bytes (at most kMax, which Fit keeps to), the stored ones kept.
    void Grow(size_t wanted);
    std::vector<uint8_t> buf_;
    size_t ptr_ = 0;
    int32_t length_ = 0, capacity_ = 0, initial_ = 0, passed_ = 0;
};

} // namespace session
