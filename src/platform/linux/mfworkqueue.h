// Internal to the Linux platform layer: the standard work queue.
#pragma once

#include "mfasyncresult.h"

namespace zrlinux {

// Queues pResult for its callback's Invoke on a worker thread, never on the
// caller's; MF_E_SHUTDOWN while the platform is not started.
HRESULT QueueAsyncResult(AsyncResult* pResult);

} // namespace zrlinux
