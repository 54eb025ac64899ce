// What a pin hands its finished frames to: the Media Foundation stream that
// stands for it. Both calls come on the pin's processing thread.
#pragma once

#include "platform.h"

class IPinStream {
public:
    // One frame (or a piece of one) as a sample with one memory buffer, a
    // time, a duration and the clean-point and discontinuity attributes.
    virtual HRESULT DeliverSample(IMFSample* pSample) = 0;
    // The pin's stream has ended; no sample follows until the next start.
    virtual HRESULT EndOfStream() = 0;

protected:
    ~IPinStream() = default;
};
