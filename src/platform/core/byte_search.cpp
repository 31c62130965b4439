#include "platform/core/byte_search.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(BRIMLET_FAST_SEARCH) && defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#define BRIMLET_SEARCH_X86 1
#include <immintrin.h>
#endif

namespace brimlet::platform {
namespace byte_search_detail {

std::size_t findPlain(std::string_view hay, std::string_view needle, std::size_t from) {
    if (from > hay.size() || needle.size() > hay.size() - from) {
        return std::string_view::npos;
    }
    if (needle.empty()) {
        return from;  // and memmem is never given an empty view's null pointer
    }
    const void* hit = memmem(hay.data() + from, hay.size() - from, needle.data(), needle.size());
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - hay.data())
               : std::string_view::npos;
}

}  // namespace byte_search_detail

namespace {

using byte_search_detail::Path;
constexpr std::size_t npos = std::string_view::npos;

// How common each byte is in text, roughly: spaces and frequent English
// letters most; a UTF-8 lead byte, which every character of its script
// repeats, more than any one continuation byte; bytes no key holds least.
// Only the order matters: it picks the bytes that rarely sit together.
constexpr std::array<std::uint8_t, 256> commonness() {
    std::array<std::uint8_t, 256> rank{};
    for (int b = 0x20; b < 0x7f; ++b) {
        rank[b] = 30;  // punctuation, symbols, and upper case, which folding removes
    }
    constexpr std::string_view kLetters = "zqxjkvbpygfwmucldrhsnioate";
    for (std::size_t i = 0; i < kLetters.size(); ++i) {
        rank[static_cast<unsigned char>(kLetters[i])] = static_cast<std::uint8_t>(40 + 6 * i);
    }
    for (int b = '0'; b <= '9'; ++b) {
        rank[b] = 60;
    }
    rank[' '] = 255;
    rank['\n'] = rank['.'] = rank[','] = 80;
    rank['\t'] = rank['\r'] = 60;
    for (int b = 0x80; b < 0xc0; ++b) {
        rank[b] = 40;
    }
    rank[0x80] = 60;  // in quotes and dashes (E2 80 xx), and in р
    rank[0x9f] = 80;  // nearly every emoji
    for (int b = 0xc2; b < 0xf5; ++b) {
        rank[b] = 120;
    }
    rank[0xff] = 5;  // a malformed byte in a key
    return rank;
}
constexpr std::array<std::uint8_t, 256> kCommonness = commonness();

// Where a needle may be found, with how much comparing that has cost; past a
// budget of about one compared byte per byte passed, memmem goes on.
class Candidates {
  public:
    Candidates(std::string_view hay, std::string_view needle, std::size_t from)
        : hay_(hay), needle_(needle), from_(from) {}

    [[nodiscard]] bool holds(std::size_t at) {
        spent_ += needle_.size();
        return std::memcmp(hay_.data() + at, needle_.data(), needle_.size()) == 0;
    }
    [[nodiscard]] bool overBudget(std::size_t at) const {
        constexpr std::size_t kSlack = 4096;
        return spent_ > at - from_ + kSlack;
    }
    // Tries each start `base + i` whose bit `i` is set; the first that holds.
    template <typename Mask>
    [[nodiscard]] std::size_t firstOf(Mask mask, std::size_t base) {
        for (; mask != 0; mask &= mask - 1) {
            const std::size_t at = base + static_cast<std::size_t>(std::countr_zero(mask));
            if (holds(at)) {
                return at;
            }
        }
        return npos;
    }

  private:
    std::string_view hay_;
    std::string_view needle_;
    std::size_t from_;
    std::size_t spent_ = 0;
};

// What a scan of blocks ends with: a match, or where the scalar tail (or,
// over budget, memmem) takes over.
struct Scanned {
    std::size_t found = npos;
    std::size_t next = 0;
    bool overBudget = false;
};

#ifdef BRIMLET_SEARCH_X86

Scanned scanSse2(const unsigned char* a, const unsigned char* b, unsigned char byteA,
                 unsigned char byteB, std::size_t from, std::size_t ends, Candidates& candidates) {
    constexpr std::size_t kBlock = 32;
    const __m128i wantA = _mm_set1_epi8(static_cast<char>(byteA));
    const __m128i wantB = _mm_set1_epi8(static_cast<char>(byteB));
    const auto both = [&](std::size_t at) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + at));
        const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + at));
        return static_cast<std::uint32_t>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(x, wantA), _mm_cmpeq_epi8(y, wantB))));
    };
    std::size_t at = from;
    for (; at + kBlock <= ends; at += kBlock) {
        const std::uint32_t mask = both(at) | (both(at + 16) << 16);
        if (mask != 0) {
            if (const std::size_t found = candidates.firstOf(mask, at); found != npos) {
                return {found, at};
            }
            if (candidates.overBudget(at)) {
                return {npos, at, true};
            }
        }
    }
    return {npos, at};
}

__attribute__((target("avx2"))) Scanned scanAvx2(const unsigned char* a, const unsigned char* b,
                                                 unsigned char byteA, unsigned char byteB,
                                                 std::size_t from, std::size_t ends,
                                                 Candidates& candidates) {
    constexpr std::size_t kBlock = 64;
    const __m256i wantA = _mm256_set1_epi8(static_cast<char>(byteA));
    const __m256i wantB = _mm256_set1_epi8(static_cast<char>(byteB));
    std::size_t at = from;
    for (; at + kBlock <= ends; at += kBlock) {
        const __m256i x0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + at));
        const __m256i y0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + at));
        const __m256i x1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + at + 32));
        const __m256i y1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + at + 32));
        const __m256i m0 =
            _mm256_and_si256(_mm256_cmpeq_epi8(x0, wantA), _mm256_cmpeq_epi8(y0, wantB));
        const __m256i m1 =
            _mm256_and_si256(_mm256_cmpeq_epi8(x1, wantA), _mm256_cmpeq_epi8(y1, wantB));
        if (_mm256_testz_si256(_mm256_or_si256(m0, m1), _mm256_or_si256(m0, m1)) != 0) {
            continue;
        }
        const std::uint64_t mask =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(m0)) |
            std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(m1))} << 32;
        if (const std::size_t found = candidates.firstOf(mask, at); found != npos) {
            return {found, at};
        }
        if (candidates.overBudget(at)) {
            return {npos, at, true};
        }
    }
    return {npos, at};
}

#endif

}  // namespace

ByteSearch::ByteSearch(std::string_view needle) : needle_(needle) {
    if (needle.size() < 2) {
        return;  // memchr's work, left to memmem
    }
    const auto rank = [&](std::size_t i) {
        return kCommonness[static_cast<unsigned char>(needle[i])];
    };
    for (std::size_t i = 1; i < needle.size(); ++i) {
        first_ = rank(i) < rank(first_) ? i : first_;
    }
    // The rarest other byte, else the other end.
    second_ = first_ == 0 ? needle.size() - 1 : 0;
    bool distinct = false;
    for (std::size_t i = 0; i < needle.size(); ++i) {
        if (needle[i] != needle[first_] && (!distinct || rank(i) < rank(second_))) {
            second_ = i;
            distinct = true;
        }
    }
}

std::size_t ByteSearch::find(std::string_view hay, std::size_t from) const {
    static const Path best = byte_search_detail::paths().back();
    return findOn(best, *this, hay, from);
}

std::vector<Path> byte_search_detail::paths() {
    std::vector<Path> out{Path::Plain};
#ifdef BRIMLET_SEARCH_X86
    out.push_back(Path::Sse2);
    if (__builtin_cpu_supports("avx2")) {
        out.push_back(Path::Avx2);
    }
#endif
    return out;
}

std::size_t findOn(Path path, const ByteSearch& search, std::string_view hay, std::size_t from) {
    const std::string_view needle = search.needle_;
    if (path == Path::Plain || needle.size() < 2 || from > hay.size() ||
        needle.size() > hay.size() - from) {
        return byte_search_detail::findPlain(hay, needle, from);
    }
    // Starts from `from` up to `ends` (exclusive) are possible.
    const std::size_t ends = hay.size() - needle.size() + 1;
    const auto* data = reinterpret_cast<const unsigned char*>(hay.data());
    const auto byteA = static_cast<unsigned char>(needle[search.first_]);
    const auto byteB = static_cast<unsigned char>(needle[search.second_]);
    Candidates candidates(hay, needle, from);
    Scanned scanned{npos, from};
#ifdef BRIMLET_SEARCH_X86
    const unsigned char* a = data + search.first_;
    const unsigned char* b = data + search.second_;
    scanned = path == Path::Avx2 ? scanAvx2(a, b, byteA, byteB, from, ends, candidates)
                                 : scanSse2(a, b, byteA, byteB, from, ends, candidates);
#endif
    if (scanned.found != npos) {
        return scanned.found;
    }
    if (scanned.overBudget) {
        return byte_search_detail::findPlain(hay, needle, scanned.next);
    }
    for (std::size_t at = scanned.next; at < ends; ++at) {
        if (data[at + search.first_] == byteA && data[at + search.second_] == byteB &&
            candidates.holds(at)) {
            return at;
        }
    }
    return npos;
}

}  // namespace brimlet::platform
