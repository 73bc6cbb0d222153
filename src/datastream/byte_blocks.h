// The bulk steps of a run with vector instructions where the processor has
// them: bytes that a table maps to one byte each translated 32 or 64 at a
// time, bytes spread into print buffer cells, the first control found.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

namespace datastream {

class ByteBlocks {
  public:
    static constexpr size_t kBlock = 32; // the most a block may need readable

    // The instructions used: the best the processor has, up to what Build is given.
    enum class Isa { None, Avx2, Avx512 };

    // one[b]: what b becomes, or -1 where a run must stop at b (a control,
    // or a character of several bytes or none). One that becomes 0 stops it too.
    void Build(const std::array<int16_t, 256>& one, Isa most = Isa::Avx512);
    Isa InUse() const { return wide_ ? Isa::Avx512 : vector_ ? Isa::Avx2 : Isa::None; }

    // True when Translate can take a block with this many bytes readable.
    bool Usable(size_t readable) const { return wide_ || (vector_ && readable >= kBlock); }

    // The leading bytes of in[0, n) that the table takes, translated into out:
    // how many. It stops at the first byte it does not take, or when fewer
    // than a block are readable (in[0, readable), readable >= n). out must
    // have room for n + kBlock bytes: blocks are written whole.
    size_t Translate(const uint8_t* in, size_t n, size_t readable, uint8_t* out) const;

    // Each byte of in[0, n) into four of out: lead, the byte, 0, 0 (a print
    // buffer cell as it is written).
    static void Spread(const uint8_t* in, size_t n, uint8_t lead, uint8_t* out);

    // Where the first byte of in[0, n) below floor is; n when there is none.
    static size_t Below(const uint8_t* in, size_t n, uint8_t floor);

  private:
    alignas(64) uint8_t one_[256]{}; // what b becomes, 0 where a run stops at b
    bool vector_ = false;            // AVX2: 32 at a time
    bool wide_ = false;              // AVX-512 with byte permutes: 64 at a time, any length
};

} // namespace datastream
