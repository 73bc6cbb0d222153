// Each vector routine is compiled for its own instruction set and chosen at
// run time, so that one build runs on every x86-64; elsewhere, and on older
// processors, runs take the caller's byte loop.
#include "datastream/byte_blocks.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define TW_BYTE_BLOCKS_X86 1
#endif

namespace datastream {

#ifdef TW_BYTE_BLOCKS_X86
namespace {
// What the processor has, looked up once for the process. TWPRINTER_CPU=avx2
// or =none holds the routines below that: the tests run the other paths that
// way, and a fault report can rule the vector code out.
struct Cpu {
    bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi");
    bool avx512 = avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                  __builtin_cpu_supports("avx512vl");
    bool vbmi = avx512 && __builtin_cpu_supports("avx512vbmi");

    Cpu() {
        const char* cap = std::getenv("TWPRINTER_CPU");
        if (!cap || !*cap) return;
        if (std::strcmp(cap, "none") == 0) {
            avx2 = avx512 = vbmi = false;
        } else if (std::strcmp(cap, "avx2") == 0) {
            avx512 = vbmi = false;
        } else {
            std::fprintf(stderr,
                         "TWPRINTER_CPU=%s is neither none nor avx2: all the processor has is "
                         "used\n",
                         cap);
        }
    }
};
const Cpu& Has() {
    static const Cpu cpu;
    return cpu;
}
} // namespace
#endif

void ByteBlocks::Build(const std::array<int16_t, 256>& one, Isa most) {
    // 0 marks a stop: a character that becomes the byte 0 takes the byte loop.
    for (int b = 0; b < 256; ++b)
        one_[b] = one[b] <= 0 ? 0 : static_cast<uint8_t>(one[b]);
#ifdef TW_BYTE_BLOCKS_X86
    vector_ = most >= Isa::Avx2 && Has().avx2;
    wide_ = most >= Isa::Avx512 && Has().vbmi;
#else
    (void)most;
#endif
}

#ifdef TW_BYTE_BLOCKS_X86
namespace {
// Sixteen bytes in both halves of a vector.
__attribute__((target("avx2"))) inline __m256i Wide(const uint8_t* p) {
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(p)));
}

// The table's sixteen rows of sixteen: row r is one[16 r, 16 r + 16).
__attribute__((target("avx2,bmi"))) size_t TranslateAvx2(const uint8_t* one, const uint8_t* in,
                                                         size_t n, size_t readable, uint8_t* out) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i lift = _mm256_set1_epi8(0x70), step = _mm256_set1_epi8(0x10);
    size_t m = 0;
    while (m < n && readable - m >= ByteBlocks::kBlock) {
        const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + m));
        // Row r answers only the bytes whose x - 16r lies in 0..15: with 0x70
        // added (saturating) every other byte has its top bit, which the
        // shuffle turns into 0.
        __m256i r = zero, rel = x;
        for (int row = 0; row < 16; ++row) {
            r = _mm256_or_si256(
                r, _mm256_shuffle_epi8(Wide(one + 16 * row), _mm256_adds_epu8(rel, lift)));
            rel = _mm256_sub_epi8(rel, step);
        }
        const auto stops = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(r, zero)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + m), r);
        const size_t take = std::min<size_t>(stops ? _tzcnt_u32(stops) : ByteBlocks::kBlock, n - m);
        m += take;
        if (take < ByteBlocks::kBlock) break;
    }
    return m;
}
// A 256-byte table is four vectors: two permutes of two each, chosen by the
// top bit. Masked loads and stores take a short tail in the same way; whole
// blocks take plain stores, which some processors run several times faster.
__attribute__((target("avx512f,avx512bw,avx512vbmi,bmi"))) size_t
TranslateVbmi(const uint8_t* one, const uint8_t* in, size_t n, uint8_t* out) {
    const __m512i o0 = _mm512_load_si512(one), o1 = _mm512_load_si512(one + 64),
                  o2 = _mm512_load_si512(one + 128), o3 = _mm512_load_si512(one + 192);
    size_t m = 0;
    while (m < n) {
        const size_t left = n - m;
        const __mmask64 want = left >= 64 ? ~__mmask64{0} : (__mmask64{1} << left) - 1;
        const __m512i x = _mm512_maskz_loadu_epi8(want, in + m);
        const __m512i r =
            _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), _mm512_permutex2var_epi8(o0, x, o1),
                                   _mm512_permutex2var_epi8(o2, x, o3));
        const uint64_t stops = _mm512_testn_epi8_mask(r, r) | ~want;
        if (left >= 64)
            _mm512_storeu_si512(out + m, r);
        else
            _mm512_mask_storeu_epi8(out + m, want, r);
        const size_t take = stops ? _tzcnt_u64(stops) : 64;
        m += take;
        if (take < 64) break;
    }
    return m;
}

__attribute__((target("avx512f,avx512bw,avx512vl"))) void SpreadAvx512(const uint8_t* in, size_t n,
                                                                       uint8_t lead, uint8_t* out) {
    const __m512i fill = _mm512_set1_epi32(lead);
    size_t k = 0;
    for (; k + 16 <= n; k += 16) {
        const __m512i b = _mm512_maskz_cvtepu8_epi32(
            0xFFFF, _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + k)));
        _mm512_storeu_si512(out + 4 * k,
                            _mm512_or_si512(_mm512_maskz_slli_epi32(0xFFFF, b, 8), fill));
    }
    if (k < n) {
        const __mmask16 want = static_cast<__mmask16>((1u << (n - k)) - 1);
        // The zeroing forms: GCC 12 takes the plain ones' undefined source for
        // an uninitialized read.
        const __m512i b = _mm512_maskz_cvtepu8_epi32(want, _mm_maskz_loadu_epi8(want, in + k));
        _mm512_mask_storeu_epi32(out + 4 * k, want,
                                 _mm512_or_si512(_mm512_maskz_slli_epi32(want, b, 8), fill));
    }
}

__attribute__((target("avx512f,avx512bw,bmi"))) size_t BelowAvx512(const uint8_t* in, size_t n,
                                                                   uint8_t floor) {
    const __m512i limit = _mm512_set1_epi8(static_cast<char>(floor));
    for (size_t k = 0; k < n; k += 64) {
        const size_t left = n - k;
        const __mmask64 want = left >= 64 ? ~__mmask64{0} : (__mmask64{1} << left) - 1;
        const __mmask64 below =
            _mm512_mask_cmplt_epu8_mask(want, _mm512_maskz_loadu_epi8(want, in + k), limit);
        if (below) return k + _tzcnt_u64(below);
    }
    return n;
}

} // namespace
#endif

void ByteBlocks::Spread(const uint8_t* in, size_t n, uint8_t lead, uint8_t* out) {
#ifdef TW_BYTE_BLOCKS_X86
    if (Has().avx512) return SpreadAvx512(in, n, lead, out);
#endif
    for (size_t k = 0; k < n; ++k) {
        out[4 * k] = lead;
        out[4 * k + 1] = in[k];
        out[4 * k + 2] = out[4 * k + 3] = 0;
    }
}

size_t ByteBlocks::Below(const uint8_t* in, size_t n, uint8_t floor) {
#ifdef TW_BYTE_BLOCKS_X86
    if (Has().avx512) return BelowAvx512(in, n, floor);
#endif
    size_t k = 0;
    while (k < n && in[k] >= floor)
        ++k;
    return k;
}

size_t ByteBlocks::Translate(const uint8_t* in, size_t n, size_t readable, uint8_t* out) const {
#ifdef TW_BYTE_BLOCKS_X86
    if (wide_) return TranslateVbmi(one_, in, n, out);
    if (vector_) return TranslateAvx2(one_, in, n, readable, out);
#endif
    (void)in, (void)n, (void)readable, (void)out;
    return 0;
}

} // namespace datastream
