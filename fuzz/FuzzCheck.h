#pragma once

// Shared by the fuzz targets: a check that stops the run with a message, in the fuzzer and in the
// corpus replay alike, and a small deterministic generator for choices derived from the input.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define FUZZ_CHECK(condition)                                                                                          \
    do {                                                                                                               \
        if (!(condition)) {                                                                                            \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);                         \
            std::abort();                                                                                              \
        }                                                                                                              \
    } while (0)

// The entry point every target defines, called by libFuzzer or by the corpus replay.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fuzz {

// FNV-1a over the input: seeds choices that must stay the same for the same input.
inline std::uint64_t hashBytes(const std::uint8_t* data, std::size_t size)
{
    std::uint64_t h = 1469598103934665603ull;
    for (std::size_t i = 0; i < size; ++i)
        h = (h ^ data[i]) * 1099511628211ull;
    return h;
}

// The same double bit for bit: a NaN equals its own payload, and 0.0 differs from -0.0.
inline bool sameBits(double a, double b)
{
    std::uint64_t x = 0, y = 0;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    return x == y;
}

class Choices
{
public:
    explicit Choices(std::uint64_t seed) : m_state(seed | 1) {}
    std::uint64_t next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return m_state;
    }
    // A number in [1, bound].
    std::size_t upTo(std::size_t bound) { return bound == 0 ? 0 : 1 + std::size_t(next() % bound); }

private:
    std::uint64_t m_state;
};

} // namespace fuzz
