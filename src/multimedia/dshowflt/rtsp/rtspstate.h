// The RTSP state of a session and of each of its pins: what must happen
// before data can flow again.
#pragma once

enum {
    RTSPSTATE_REOPENSOCKET = 0,       // close and reopen the control connection first
    RTSPSTATE_SEND_RTSP_DESCRIBE = 1, // fetch the description again
    RTSPSTATE_SEND_RTSP_SETUP = 2,    // set the streams up
    RTSPSTATE_SEND_RTSP_PLAY = 3,     // set up and not playing
    RTSPSTATE_RUNNING = 4,            // PLAY was accepted; data flows
    RTSPSTATE_NEEDSSTARTLOOP = 5,     // a name only: no session enters it
};

// The state's name for traces; "Unknown RTSP State=<n>" for other values.
const char* RTSPStateName(int nState);
