// Whether this machine delivers IPv4 multicast on the loopback interface,
// which the multicast tests need. CTest runs them inside a private network
// namespace whose loopback carries multicast (tools/netns-run.sh).
#pragma once

#include <string>

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
