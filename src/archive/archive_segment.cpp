// The archive's segments: files that jobs are appended to, each job one
// record of "TWS1", its id, its length and a CRC-32 of the packed job, then
// the job. A segment is written by one object of one process (it made the
// file exclusively) and closed at a size or an age; a record is checked when
// read, so a tail torn by a crash is found and left out, never believed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "archive/archive_internal.h"

namespace archive {
namespace {

constexpr char kRecordMagic[] = "TWS1";
constexpr size_t kHeader = 20; // magic, id (8), length of the job (4), its CRC (4)
// A segment goes only when all its jobs have: small enough that retention frees
// the disk soon, large enough that files are few.
constexpr long long kSegmentBytes = 64LL << 20;
constexpr long long kSegmentSeconds = 3600;

void Put(std::string& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out += static_cast<char>(v >> (8 * i) & 0xFF);
}

uint64_t Take(const char* p, int bytes) {
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
        v |= static_cast<uint64_t>(static_cast<unsigned char>(p[i])) << (8 * i);
    return v;
}

uint32_t Crc(const char* p, size_t n) {
    return static_cast<uint32_t>(
        crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef*>(p), static_cast<uInt>(n)));
}

// A record's header at p (n bytes there at least kHeader): its id and the job's
// length, false when it is no header.
bool Header(const char* p, long long& id, uint32_t& length) {
    if (std::memcmp(p, kRecordMagic, 4) != 0) return false;
    id = static_cast<long long>(Take(p + 4, 8));
    length = static_cast<uint32_t>(Take(p + 12, 4));
    return id > 0;
}

bool PreadAll(int fd, char* p, size_t n, off_t at) {
    while (n > 0) {
        const ssize_t r = ::pread(fd, p, n, at);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r, n -= static_cast<size_t>(r), at += r;
    }
    return true;
}

bool PwriteAll(int fd, const char* p, size_t n, off_t at) {
    while (n > 0) {
        const ssize_t w = ::pwrite(fd, p, n, at);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            if (w == 0) errno = EIO;
            return false;
        }
        p += w, n -= static_cast<size_t>(w), at += w;
    }
    return true;
}

} // namespace

std::string SegmentPath(const std::string& dir, long long segment) {
    return dir + "/" + std::to_string(segment) + ".tws";
}

long long SegmentOf(const std::string& name) {
    if (name.size() < 5 || name.compare(name.size() - 4, 4, ".tws") != 0) return 0;
    // Its jobs' ids must fit.
    constexpr long long most = INT64_MAX / kJobsPerSegment - 1;
    long long n = 0;
    for (size_t i = 0; i + 4 < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])) || n > most / 10) return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n <= most ? n : 0;
}

bool ReadRecord(const std::string& dir, long long id, const Place& place, std::string& packed,
                std::string& why) {
    const std::string path = SegmentPath(dir, place.segment);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        why = path + ": " + std::strerror(errno);
        return false;
    }
    std::string record(static_cast<size_t>(place.length), '\0');
    const bool read = place.length >= static_cast<long long>(kHeader) &&
                      PreadAll(fd, record.data(), record.size(), place.offset);
    ::close(fd);
    long long at = 0;
    uint32_t length = 0;
    if (!read || !Header(record.data(), at, length) || at != id ||
        length != record.size() - kHeader ||
        Crc(record.data() + kHeader, length) != Take(record.data() + 16, 4)) {
        why = path + " holds no sound job " + std::to_string(id) + " at byte " +
              std::to_string(place.offset);
        return false;
    }
    packed = record.substr(kHeader);
    return true;
}

bool ScanSegment(const std::string& path,
                 const std::function<void(long long, const Place&, const std::string&)>& each,
                 const std::function<void(long long from, long long to)>& damaged) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0) ::close(fd);
        return false;
    }
    std::string all(static_cast<size_t>(st.st_size), '\0');
    const bool read = PreadAll(fd, all.data(), all.size(), 0);
    ::close(fd);
    if (!read) return false;
    Place place;
    place.segment = SegmentOf(path.substr(path.rfind('/') + 1));
    std::string packed;
    for (size_t at = 0; at < all.size();) {
        long long id = 0;
        uint32_t length = 0;
        if (all.size() - at >= kHeader && Header(all.data() + at, id, length) &&
            length <= all.size() - at - kHeader &&
            Crc(all.data() + at + kHeader, length) == Take(all.data() + at + 16, 4)) {
            place.offset = static_cast<long long>(at);
            place.length = static_cast<long long>(kHeader + length);
            packed.assign(all, at + kHeader, length);
            each(id, place, packed);
            at += kHeader + length;
            continue;
        }
        // Damaged bytes: the records past them are found by their mark.
        const size_t next = std::min(all.find(kRecordMagic, at + 1), all.size());
        damaged(static_cast<long long>(at), static_cast<long long>(next));
        at = next;
    }
    return true;
}

void Archive::Impl::CloseFullSegment() {
    // Kept small against the size limit, so that removing whole segments keeps to it.
    const long long most =
        maxMb > 0 ? std::min(kSegmentBytes, maxMb * (1LL << 20) / 8) : kSegmentBytes;
    if (segmentFd >= 0 && (segmentJobs + 1 >= kJobsPerSegment || segmentSize >= most))
        CloseSegment();
}

bool Archive::Impl::SegmentUsable() {
    CloseFullSegment();
    if (segmentFd < 0 || Now() - segmentOpened >= kSegmentSeconds) return false;
    // The folder moved or removed, or the segment removed by another process's
    // retention: what is appended must go where the index will look for it.
    struct stat st {};
    return ::stat(SegmentPath(dir, segment).c_str(), &st) == 0 && st.st_dev == segmentDevice &&
           st.st_ino == segmentInode;
}

bool Archive::Impl::OpenSegment(std::string& why) {
    CloseSegment();
    if (!MakeFolders(dir)) {
        why = dir + ": " + std::strerror(errno);
        return false;
    }
    // Numbered by the second it is made, a thousand to the second; a number
    // taken (another LU or process, a segment closed within the second) moves
    // on, into the next seconds' numbers when all are. The LUs of a process
    // start at numbers of their own so as not to try the same ones in turn.
    static std::atomic<long long> opened{0};
    const long long first = Now() * 1000 + opened++ % 1000;
    for (long long n = first; n < first + 100000; ++n) {
        const std::string path = SegmentPath(dir, n);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST) continue;
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            why = path + ": " + std::strerror(errno);
            if (fd >= 0) ::close(fd);
            return false;
        }
        segmentFd = fd;
        segment = n;
        segmentSize = segmentJobs = 0;
        segmentOpened = Now();
        segmentDevice = st.st_dev;
        segmentInode = st.st_ino;
        return true;
    }
    why = dir + ": no segment number free";
    return false;
}

void Archive::Impl::CloseSegment() {
    if (segmentFd >= 0) ::close(segmentFd);
    segmentFd = -1;
    segment = 0;
}

bool Archive::Impl::WriteJob(Job& job, Place& place) {
    std::string why, packed;
    bool written = false;
    if (!PackJob(job, packed)) {
        why = "the job could not be compressed";
    } else {
        // A write that fails (a full disk) is cut back off its segment, and tried
        // once in a new one: the folder may have been made again meanwhile.
        for (int attempt = 0; attempt < 2 && !written; ++attempt) {
            if (!SegmentUsable() && !OpenSegment(why)) break;
            const long long id = segment * kJobsPerSegment + segmentJobs + 1;
            std::string record(kRecordMagic, 4);
            Put(record, static_cast<uint64_t>(id), 8);
            Put(record, packed.size(), 4);
            Put(record, Crc(packed.data(), packed.size()), 4);
            record += packed;
            if (PwriteAll(segmentFd, record.data(), record.size(), segmentSize)) {
                job.id = id;
                place = {segment, segmentSize, static_cast<long long>(record.size())};
                segmentSize += place.length;
                ++segmentJobs;
                written = true;
                // A full segment is closed now, not at the next job: retention may
                // then remove it whole.
                CloseFullSegment();
            } else {
                why = SegmentPath(dir, segment) + ": " + std::strerror(errno);
                // Should the cut fail too, the segment is closed: a rebuild stops
                // at its torn tail.
                const bool cut = ::ftruncate(segmentFd, segmentSize) == 0;
                static_cast<void>(cut);
                CloseSegment();
            }
        }
    }
    if (!written) {
        if (!fileFault)
            Note("The archive folder " + dir + " cannot be written (" + why +
                 "); jobs are printed but not archived until it can be.");
        fileFault = true;
        return false;
    }
    if (fileFault) Note("The archive folder " + dir + " is written again.");
    fileFault = false;
    return true;
}

} // namespace archive
