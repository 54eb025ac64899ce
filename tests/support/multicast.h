// Whether this machine delivers IPv4 multicast on the loopback interface,
// which the multicast tests need, and IPv6 multicast on a route of ff00::/8.
// CTest runs them inside a private network namespace whose loopback carries
// IPv4 multicast and whose IPv6 groups go out on a virtual Ethernet pair
// (tools/netns-run.sh).
#pragma once

#include <string>

#include "common/socketaddress.h"
#include "platform.h"

// The loopback interface address (network byte order) that the multicast
// tests join their groups on.
DWORD MulticastTestInterface();
// A group of the organisation-local scope for the tests.
DWORD MulticastTestGroup();

// Probes once per process: joins the test group and sends itself a datagram.
// Returns false with the reason when nothing arrives.
bool MulticastAvailable(std::string* pReason);

// Whether multicast must work (ZR_REQUIRE_MULTICAST is set inside the
// namespace), so that its absence is a failure rather than a skip.
bool MulticastRequired();

// The same for IPv6: a group of the site-local scope (ff15::), the probe, and
// ZR_REQUIRE_MULTICAST6 (set when the namespace got its IPv6 route).
CSocketAddress MulticastTestGroup6();
bool Multicast6Available(std::string* pReason);
bool Multicast6Required();

// Skips the calling test when multicast is unavailable.
#define SKIP_WITHOUT_MULTICAST()                                                                   \
    do {                                                                                           \
        std::string reason_;                                                                       \
        if (!MulticastAvailable(&reason_)) {                                                       \
            if (MulticastRequired()) {                                                             \
                FAIL() << reason_;                                                                 \
            }                                                                                      \
            GTEST_SKIP() << reason_;                                                               \
        }                                                                                          \
    } while (0)

#define SKIP_WITHOUT_MULTICAST6()                                                                  \
    do {                                                                                           \
        std::string reason_;                                                                       \
        if (!Multicast6Available(&reason_)) {                                                      \
            if (Multicast6Required()) {                                                            \
                FAIL() << reason_;                                                                 \
            }                                                                                      \
            GTEST_SKIP() << reason_;                                                               \
        }                                                                                          \
    } while (0)
