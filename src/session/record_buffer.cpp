#include "session/record_buffer.h"

#include <algorithm>

namespace session {

void RecordBuffer::Attach(int32_t initial) {
    initial_ = capacity_ = initial;
    buf_.assign(static_cast<size_t>(initial), 0);
    ptr_ = 0;
    length_ = 0;
    passed_ = 0;
}

void RecordBuffer::Release() {
    buf_.clear();
    buf_.shrink_to_fit();
    ptr_ = 0;
    length_ = capacity_ = 0;
}

void RecordBuffer::Grow(size_t wanted) {
    const size_t to = std::max(wanted, std::min(buf_.size() * 2, static_cast<size_t>(kMax)));
    buf_.resize(to);
    capacity_ = static_cast<int32_t>(to);
    passed_ = 0;
}

void RecordBuffer::Passed() {
    if (capacity_ > initial_ && ++passed_ > 8) Resize(initial_);
}

void RecordBuffer::Resize(int32_t wanted) {
    if (length_ != 0) {
        buf_.resize(static_cast<size_t>(wanted));
        ptr_ = static_cast<size_t>(std::min(length_, wanted));
    } else {
        std::vector<uint8_t>(static_cast<size_t>(wanted), 0).swap(buf_);
        ptr_ = 0;
    }
    capacity_ = wanted;
    passed_ = 0;
}

} // namespace session
