// Searching and copying inside received text whose end is known only by its
// length. The parsers never trust a terminator to be there: every function
// here stops at `end`, and callers set `end` at the first zero byte (TextEnd)
// so that an embedded zero ends the text as it would a C string.
#pragma once

#include <cstddef>
#include <cstring>

namespace bounded {

// The first zero byte among the size bytes at text, else text + size.
inline const char* TextEnd(const char* text, std::size_t size)
{
    const void* zero = std::memchr(text, 0, size);
    return zero != nullptr ? static_cast<const char*>(zero) : text + size;
}

// The first occurrence of needle (needleSize bytes, at least one) that lies
// wholly in [from, end); null if there is none.
inline const char* Find(const char* from, const char* end, const char* needle, std::size_t needleSize)
{
    while (end - from >= static_cast<std::ptrdiff_t>(needleSize)) {
        const std::size_t starts = static_cast<std::size_t>(end - from) - needleSize + 1;
        const char* hit = static_cast<const char*>(std::memchr(from, needle[0], starts));
        if (hit == nullptr) return nullptr;
        if (std::memcmp(hit + 1, needle + 1, needleSize - 1) == 0) return hit;
        from = hit + 1;
    }
    return nullptr;
}

template <std::size_t N>
const char* Find(const char* from, const char* end, const char (&needle)[N])
{
    static_assert(N > 1, "search for at least one character");
    return Find(from, end, needle, N - 1);
}

inline const char* FindChar(const char* from, const char* end, char c)
{
    if (from >= end) return nullptr;
    return static_cast<const char*>(std::memchr(from, c, static_cast<std::size_t>(end - from)));
}

template <std::size_t N>
bool StartsWith(const char* text, const char* end, const char (&prefix)[N])
{
    return end - text >= static_cast<std::ptrdiff_t>(N - 1) && std::memcmp(text, prefix, N - 1) == 0;
}

// Copies [from, to) into field, cut to its size less one, and terminates it.
template <std::size_t N>
void Cut(const char* from, const char* to, char (&field)[N])
{
    std::size_t count = to > from ? static_cast<std::size_t>(to - from) : 0;
    if (count > N - 1) count = N - 1;
    std::memcpy(field, from, count);
    field[count] = '\0';
}

}  // namespace bounded
