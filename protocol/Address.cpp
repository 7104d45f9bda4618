#include "protocol/Address.h"

#include <cctype>
#include <cstdlib>

namespace protocol {

namespace {

// A whole decimal number from 1 to 65535, else 0.
int parsePort(const std::string& text)
{
    if (text.empty() || text.size() > 5)
        return 0;
    int port = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return 0;
        port = port * 10 + (c - '0');
    }
    return port <= 65535 ? port : 0;
}

} // namespace

bool isLocalhost(const std::string& host)
{
    static const char name[] = "localhost";
    if (host.size() != sizeof name - 1)
        return false;
    for (std::size_t i = 0; i < host.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(host[i])) != name[i])
            return false;
    }
    return true;
}

int kernelPortBase()
{
    const char* env = std::getenv(portBaseVariable);
    const int base = env ? parsePort(env) : 0;
    return base ? base : defaultPortBase;
}

int kernelPort(int instance)
{
    const long port = long(kernelPortBase()) + instance;
    return port >= 1 && port <= 65535 ? int(port) : 0;
}

bool splitHostPort(const std::string& hostPort, std::string& host, int& port)
{
    const std::size_t colon = hostPort.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    std::string h = hostPort.substr(0, colon);
    if (h.size() >= 2 && h.front() == '[' && h.back() == ']')
        h = h.substr(1, h.size() - 2);
    const int p = parsePort(hostPort.substr(colon + 1));
    if (h.empty() || !p)
        return false;
    host = h;
    port = p;
    return true;
}

} // namespace protocol
