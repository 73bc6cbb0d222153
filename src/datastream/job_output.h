// A job's bytes on their way to its stream: gathered in one buffer that the
// bulk paths translate into in place, and handed over in one piece at each
// flush. The stream's position is counted here, so marking a record asks the
// system nothing.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace datastream {

class JobOutput {
  public:
    // A file's buffer: a receive's records are flushed as one write.
    static constexpr size_t kCapacity = 256 * 1024;
    // A memory stream's or standard output's: nothing is saved by gathering more.
    static constexpr size_t kSmallCapacity = 64 * 1024;
    // The most Room may be asked for: it fits an empty buffer of either size.
    static constexpr size_t kMostRoom = 32 * 1024;
    static_assert(kMostRoom <= kSmallCapacity && kSmallCapacity <= kCapacity);

    // Bytes go to stream, which stands at position at; null: none. Bytes not
    // handed over yet are dropped. The buffer is made once and kept while its
    // capacity stays (its pages are only resident once written).
    void Attach(FILE* stream, int64_t at, size_t capacity = kCapacity);
    // Where the next byte goes in the stream.
    int64_t Position() const { return at_ + static_cast<int64_t>(used_); }

    // n bytes (n <= kMostRoom) that may be written at the end, whether or not
    // Commit takes them all; what came before goes to the stream first when
    // they would not fit. Null when the stream refused it.
    uint8_t* Room(size_t n) {
        if (capacity_ - used_ < n && !Spill()) return nullptr;
        return buffer_.get() + used_;
    }
    void Commit(size_t n) { used_ += n; }
    bool Put(uint8_t c) {
        if (used_ == capacity_ && !Spill()) return false;
        buffer_[used_++] = c;
        return true;
    }
    bool Write(const uint8_t* bytes, size_t n);
    // Everything to the stream and the stream to the system: false when refused.
    bool Flush();

  private:
    bool Spill();
    FILE* stream_ = nullptr;
    int64_t at_ = 0;
    size_t used_ = 0;
    size_t capacity_ = 0;
    std::unique_ptr<uint8_t[]> buffer_;
};

} // namespace datastream
