#include "vmsg/Secret.h"

#include "protocol/Address.h"
#include "vmsg/Frame.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdlib>

namespace vmsg {

std::string makeSecret()
{
    unsigned char bits[secretLength / 2];
    std::size_t got = 0;
    while (got < sizeof bits) {
        const ssize_t n = ::getrandom(bits + got, sizeof bits - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::string();
        got += std::size_t(n);
    }
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(secretLength);
    for (unsigned char b : bits) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

std::string publishedSecret()
{
    const char* value = std::getenv(secretVariable);
    return value ? std::string(value) : std::string();
}

std::string secretFor(const std::string& host, int port, int service)
{
    if (service != 1)
        return std::string();
    const char* address = std::getenv(protocol::addressVariable);
    std::string ownHost;
    int ownPort = 0;
    if (!address || !protocol::splitHostPort(address, ownHost, ownPort) || ownPort != port)
        return std::string();
    if (ownHost != host && !(protocol::isLocalhost(ownHost) && (host == "127.0.0.1" || host == "::1")))
        return std::string();
    return publishedSecret();
}

bool presentsSecret(const std::uint8_t* p, const std::uint8_t* end, const std::string& secret)
{
    if (secret.empty() || end - p < 5 || p[0] != wire::tagString)
        return false;
    const std::uint32_t size = wire::getU32(p + 1);
    if (size != secret.size() || std::size_t(end - p) - 5 < size)
        return false;
    unsigned difference = 0;
    for (std::size_t i = 0; i < size; ++i)
        difference |= unsigned(p[5 + i] ^ static_cast<unsigned char>(secret[i]));
    return difference == 0;
}

} // namespace vmsg
