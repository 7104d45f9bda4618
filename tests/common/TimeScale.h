#pragma once

#include <chrono>
#include <cstdlib>
#include <cstring>

// Under the sanitizers (KELMDESK_SANITIZED=1, set by the sanitizer test preset) everything runs
// several times slower: every wall-clock bound of a test is multiplied by timeScale(). Plain C++, so
// that tests without Qt use it too.
inline int timeScale()
{
    const char* value = std::getenv("KELMDESK_SANITIZED");
    return value && std::strcmp(value, "1") == 0 ? 4 : 1;
}

inline int scaledMs(int ms)
{
    return ms * timeScale();
}

template <class Rep, class Period> std::chrono::duration<Rep, Period> scaled(std::chrono::duration<Rep, Period> bound)
{
    return bound * timeScale();
}
