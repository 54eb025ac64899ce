// AMR narrow-band frames in the storage format of RFC 4867 section 5, as the
// AMR depacketizer of CRTPParser delivers them (the depacketizer itself is a
// member of CRTPParser).
#pragma once

// The size in bytes of a stored frame of frame type nFrameType (0-15),
// including its 1-byte frame header.
int AMRStorageFrameSize(int nFrameType);
