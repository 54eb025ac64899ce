// Baseline JPEG images rebuilt from RTP/JPEG payloads (RFC 2435) by the JPEG
// depacketizer of CRTPParser (the depacketizer itself is a member of
// CRTPParser).
#pragma once

#include "platform.h"

// The luminance and chrominance quantization tables for a Q factor of 1 to
// 127 (RFC 2435 section 4.2): the example tables of ITU-T T.81 Annex K
// scaled by Q, in zigzag order as a DQT segment holds them.
void BuildJPEGQuantTables(int nQ, BYTE rgLuminance[64], BYTE rgChrominance[64]);
