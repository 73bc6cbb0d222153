// A job's bytes on their way to its stream.
#include "datastream/job_output.h"

#include <algorithm>
#include <cstring>

namespace datastream {

void JobOutput::Attach(FILE* stream, int64_t at, size_t capacity) {
    if (stream && (!buffer_ || capacity_ != capacity)) {
        buffer_.reset(new uint8_t[capacity]);
        capacity_ = capacity;
    }
    stream_ = stream;
    at_ = at;
    used_ = 0;
}

bool JobOutput::Write(const uint8_t* bytes, size_t n) {
    while (n > 0) {
        if (used_ == capacity_ && !Spill()) return false;
        const size_t k = std::min(n, capacity_ - used_);
        std::memcpy(buffer_.get() + used_, bytes, k);
        used_ += k;
        bytes += k;
        n -= k;
    }
    return true;
}

// What a refused write left over is dropped: the record it belongs to fails,
// and its bytes are cut off the file again or the job is kept as it stands.
bool JobOutput::Spill() {
    if (!stream_) return false;
    const size_t done = used_ == 0 ? 0 : fwrite_unlocked(buffer_.get(), 1, used_, stream_);
    at_ += static_cast<int64_t>(done);
    const bool ok = done == used_;
    used_ = 0;
    return ok;
}

bool JobOutput::Flush() {
    return Spill() && std::fflush(stream_) == 0 && !std::ferror(stream_);
}

} // namespace datastream
