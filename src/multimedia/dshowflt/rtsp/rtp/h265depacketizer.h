// H.265 access units in Annex B form, as the H.265 depacketizer of CRTPParser
// delivers them (the depacketizer itself is a member of CRTPParser).
#pragma once

#include "platform.h"

// True when the frame's first deciding NAL unit is an IRAP picture (BLA, IDR,
// CRA) or a parameter set (VPS, SPS, PPS); false for other pictures, or when
// none decides.
bool IsH265KeyFrame(const BYTE* pFrame, int nSize);
// True when the frame's first slice segment is the first of its picture
// (first_slice_segment_in_pic_flag): a frame that lost its beginning has none.
bool BeginsH265Picture(const BYTE* pFrame, int nSize);
