#include "rtspstate.h"

#include "common/format.h"
#include "common/trace.h"

namespace {
const char* const kStateNames[] = {
    "RTSPSTATE_REOPENSOCKET",    "RTSPSTATE_SEND_RTSP_DESCRIBE",
    "RTSPSTATE_SEND_RTSP_SETUP", "RTSPSTATE_SEND_RTSP_PLAY",
    "RTSPSTATE_RUNNING",         "RTSPSTATE_NEEDSSTARTLOOP",
};
CFormatRing<4, 50> g_unknownStateRing;
} // namespace

const char* RTSPStateName(int nState) {
    if (nState >= 0 && nState < (int)(sizeof(kStateNames) / sizeof(kStateNames[0]))) {
        return kStateNames[nState];
    }
    char* psz = g_unknownStateRing.Next();
    FormatString(psz, g_unknownStateRing.Size(), "Unknown RTSP State=%d", nState);
    return psz;
}
