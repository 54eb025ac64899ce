// The raw byte sequence payload of an H.264 or H.265 NAL unit: the NAL
// unit's bytes without the emulation-prevention bytes that the encoder
// inserted so that no start code appears inside it (ITU-T H.264 section
// 7.4.1, ITU-T H.265 section 7.4.2).
#pragma once

#include "common/buffer.h"

// Replaces the contents of pRbsp by the payload of the NAL unit [pNal,
// pNal + cbNal): every 0x03 that follows two zero bytes is dropped.
HRESULT NalUnitToRbsp(const BYTE* pNal, int cbNal, CBaseBuffer* pRbsp);
