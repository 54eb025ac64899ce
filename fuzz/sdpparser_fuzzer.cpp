// ParseContent on arbitrary text, parsed from a buffer of exactly the
// input's size (no terminating zero), then the description's invariants.
#include <cstring>

#include "fuzzsupport.h"
#include "rtsp/sdpparser.h"

namespace {

void CheckStream(const StreamDescription& stream) {
    FUZZ_INVARIANT(stream.m_nStreamType >= -1 && stream.m_nStreamType <= 2);
    FUZZ_INVARIANT(stream.m_nParamSets >= 0);
    FUZZ_INVARIANT(stream.m_nParamSets == 0 || stream.m_pParamSets != nullptr);
    for (int32_t i = 0; i < stream.m_nParamSets; i++) {
        const ParamSet& set = stream.m_pParamSets[i];
        FUZZ_INVARIANT(set.m_nLength >= 0 && set.m_pData != nullptr);
        // Touch every byte so that the sanitizer sees a short allocation.
        volatile BYTE sink = 0;
        for (int32_t j = 0; j < set.m_nLength; j++) {
            sink = sink ^ set.m_pData[j];
        }
    }
    if (stream.m_pszControl) {
        (void)strlen(stream.m_pszControl);
    }
    FUZZ_INVARIANT(strlen(stream.m_ConnectionAddress.Text()) <=
                   (size_t)stream.m_ConnectionAddress.Length());
    FUZZ_INVARIANT(stream.m_bAuHeaders == 0 || stream.m_bAuHeaders == 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<char[]> text = ExactCopy<char>(data, size);
    SessionDescription desc;
    const HRESULT hr = ParseContent(text.get(), text.get() + size, &desc);
    FUZZ_INVARIANT(hr == S_OK || hr == E_OUTOFMEMORY);
    FUZZ_INVARIANT(desc.m_nStreams >= 0);
    FUZZ_INVARIANT(desc.m_nRangeType >= 0 && desc.m_nRangeType <= 2);
    FUZZ_INVARIANT(desc.m_tDuration >= 0);
    FUZZ_INVARIANT(desc.m_bFlirSecServer == 0 || desc.m_bFlirSecServer == 1);
    for (int32_t i = 0; i < desc.m_nStreams; i++) {
        FUZZ_INVARIANT(desc.m_ppStreams[i] != nullptr);
        CheckStream(*desc.m_ppStreams[i]);
        FUZZ_INVARIANT(desc.m_ppStreams[i]->m_nReceiverSsrc ==
                       desc.m_ppStreams[0]->m_nReceiverSsrc + (uint32_t)i);
    }
    // The move into a pin leaves the source empty and the target whole.
    if (desc.m_nStreams > 0) {
        StreamDescription target;
        desc.m_ppStreams[0]->TransferTo(&target);
        CheckStream(target);
        FUZZ_INVARIANT(desc.m_ppStreams[0]->m_pszControl == nullptr);
        FUZZ_INVARIANT(desc.m_ppStreams[0]->m_nParamSets == 0);
    }
    return 0;
}
