#pragma once

// The port secret: KelmDesk's port admits only clients whose LogOn carries it. KelmDesk publishes it
// in the environment next to its address, so that the runners it starts inherit both.

#include <cstdint>
#include <string>

namespace vmsg {

// The environment variable that holds the secret (32 lowercase hex digits).
constexpr const char* secretVariable = "VMSG_SECRET";
constexpr std::size_t secretLength = 32;

// 128 random bits from the system as 32 lowercase hex digits; empty when the system has none to give.
std::string makeSecret();
// The value of VMSG_SECRET, empty when it is unset.
std::string publishedSecret();
// The secret a client logging on as service to port host:port presents: VMSG_SECRET for service 1
// when VMSG_ADDRESS names that very port (numeric host), else nothing. So the secret never goes to a
// kernel or any other server.
std::string secretFor(const std::string& host, int port, int service);
// Whether the LogOn body [p, end), already checked, starts with a string equal to secret. The bytes
// are compared in constant time, so that timing tells nothing about how much of a guess was right.
bool presentsSecret(const std::uint8_t* p, const std::uint8_t* end, const std::string& secret);

} // namespace vmsg
