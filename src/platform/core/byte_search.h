// Looking for one byte string in many long texts at the speed of reading
// them: two of the needle's rarer bytes are looked for together, a vector at
// a time, and only where both sit is the needle compared whole. Where that
// finds too many near misses, and in builds without vector instructions, it
// is memmem; the answers are the same.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace brimlet::platform {

namespace byte_search_detail {
enum class Path { Plain, Sse2, Avx2 };
}

class ByteSearch {
  public:
    explicit ByteSearch(std::string_view needle);

    // Where `hay` first holds the needle at or after `from`; npos if nowhere.
    [[nodiscard]] std::size_t find(std::string_view hay, std::size_t from = 0) const;

  private:
    friend std::size_t findOn(byte_search_detail::Path path, const ByteSearch& search,
                              std::string_view hay, std::size_t from);

    std::string needle_;
    // Where the two bytes looked for sit in the needle.
    std::size_t first_ = 0;
    std::size_t second_ = 0;
};

namespace byte_search_detail {

// memmem, which ByteSearch agrees with.
[[nodiscard]] std::size_t findPlain(std::string_view hay, std::string_view needle,
                                    std::size_t from);

// The paths this build and processor can take, Plain first; ByteSearch
// takes the last.
[[nodiscard]] std::vector<Path> paths();

}  // namespace byte_search_detail

// ByteSearch::find on one of the paths available.
[[nodiscard]] std::size_t findOn(byte_search_detail::Path path, const ByteSearch& search,
                                 std::string_view hay, std::size_t from);

}  // namespace brimlet::platform
