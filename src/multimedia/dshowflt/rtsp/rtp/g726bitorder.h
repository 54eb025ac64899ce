// G.726 code words come packed as RFC 3551 section 4.5.4 specifies: the first
// code word in the least significant bits of the first octet, each code word
// least significant bit first. Decoders that expect the ITU-T / AAL2 packing
// need every code word most significant bit first, filling each octet from
// its most significant bit down.
#pragma once

#include "platform.h"

// Rewrites a G.726 frame from the RFC 3551 packing to the most significant
// bit first packing, in place. nBitsPerCodeWord is 2, 3, 4 or 5 (16, 24, 32
// or 40 kbit/s); other values leave the frame unchanged. After the last
// complete code word, a partly filled output octet keeps its bits in its low
// end.
void ConvertG726BitOrder(BYTE* pFrame, int nSize, int nBitsPerCodeWord);
