// What a session tells its owner after opening. The calls come on the
// session's own threads (the control connection's reader, the keep-alive
// worker), which may hold session locks: the owner answers at once, takes
// none of its own locks that it also holds while calling into the session,
// and never calls back into the session on that thread.
#pragma once

#include "platform.h"

class ISessionEvents {
public:
    // The connection to the server was lost while the streams played (hr
    // says how). The streams have not ended: the owner has the session
    // reconnect (CZRtspSrc::Reconnect) on a thread of its own, and reports
    // the failure to the application when that fails.
    virtual void OnConnectionLost(HRESULT hr) = 0;

protected:
    ~ISessionEvents() = default;
};
