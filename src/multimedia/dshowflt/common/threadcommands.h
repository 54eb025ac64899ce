// The command codes of the worker threads (CAMThread, CAMThread2). Each
// worker answers unknown codes with E_NOTIMPL; its EXIT command ends it.
#pragma once

// The stream receiver (first thread of a stream) and the session's
// control-connection reader, which answers only READ, STOP, FLUSH and EXIT.
enum RecvThreadCommand {
    RECVCMD_CONNECT = 0,      // open the stream socket with connect, then read
    RECVCMD_READ = 1,         // run the read loop
    RECVCMD_STOP = 2,         // the read loop has returned; just reply
    RECVCMD_FLUSH = 3,        // drop the queued packets
    RECVCMD_UDPHOLEPUNCH = 4, // send one hole-punch datagram
    RECVCMD_EXIT = 5,
};

// The stream's processing loop (loop thread of a stream).
enum LoopThreadCommand {
    LOOPCMD_START = 0, // run the process loop until the next loop command
    LOOPCMD_STOP = 1,
    LOOPCMD_EXIT = 2,
};

// The stream's RTCP worker.
enum RtcpThreadCommand {
    RTCPTHREADCMD_START = 0,     // read the stream's own RTCP socket
    RTCPTHREADCMD_STARTWAIT = 1, // wait for RTCP packets queued from the interleaved connection
    RTCPTHREADCMD_STOP = 2,
    RTCPTHREADCMD_EXIT = 3,
};
