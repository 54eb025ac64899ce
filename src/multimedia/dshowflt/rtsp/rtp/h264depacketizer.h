// H.264 access units in Annex B form, as the H.264 depacketizer of CRTPParser
// delivers them (the depacketizer itself is a member of CRTPParser).
#pragma once

#include "platform.h"

// True when the frame's first deciding NAL unit is an IDR slice or a sequence
// parameter set; false when it is another slice, or when none decides.
bool IsH264KeyFrame(const BYTE* pFrame, int nSize);
// True when the frame's first slice is the first of its picture
// (first_mb_in_slice 0): a frame that lost its beginning has none.
bool BeginsH264Picture(const BYTE* pFrame, int nSize);
