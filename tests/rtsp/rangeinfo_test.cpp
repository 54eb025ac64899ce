#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "rtsp/rangeinfo.h"

namespace {

void ProcessRange(const std::string& value, SessionDescription* pDesc) {
    ProcessRangeInfo(pDesc, value.data(), value.data() + value.size());
}

double Time(int32_t nType, const std::string& text, double dUnchanged = -99.0) {
    return ParseRangeTime(nType, text.data(), text.data() + text.size(), dUnchanged);
}

} // namespace

TEST(RangeInfoTest, NptRanges) {
    SessionDescription live;
    ProcessRange("npt=now-", &live);
    EXPECT_EQ(live.m_nRangeType, RANGETYPE_NPT);
    EXPECT_EQ(live.m_dRangeStart, 0.0);
    EXPECT_EQ(live.m_dRangeEnd, -1.0);
    EXPECT_EQ(live.m_tDuration, 0);

    SessionDescription stored;
    ProcessRange(" npt=0-7.741", &stored);
    EXPECT_EQ(stored.m_dRangeStart, 0.0);
    EXPECT_EQ(stored.m_dRangeEnd, 7.741);
    EXPECT_EQ(stored.m_tDuration, 77410000);

    SessionDescription clock;
    ProcessRange("npt=0:01:02.5-1:00:00", &clock);
    EXPECT_EQ(clock.m_dRangeStart, 62.5);
    EXPECT_EQ(clock.m_dRangeEnd, 3600.0);
    EXPECT_EQ(clock.m_tDuration, 35375000000);
}

TEST(RangeInfoTest, EndNotAfterStartGivesNoDuration) {
    SessionDescription desc;
    ProcessRange("npt=30-10", &desc);
    EXPECT_EQ(desc.m_dRangeStart, 30.0);
    EXPECT_EQ(desc.m_dRangeEnd, 10.0);
    EXPECT_EQ(desc.m_tDuration, 0);
}

TEST(RangeInfoTest, SmpteRanges) {
    SessionDescription desc;
    ProcessRange("smpte=10:07:00-10:07:33:05.01", &desc);
    EXPECT_EQ(desc.m_nRangeType, RANGETYPE_SMPTE);
    EXPECT_EQ(desc.m_dRangeStart, 36420.0);
    EXPECT_DOUBLE_EQ(desc.m_dRangeEnd, 36453.0 + 5.01 / 30.0);

    SessionDescription drop;
    ProcessRange("smpte-30-drop=0:00:00-0:00:10", &drop);
    EXPECT_EQ(drop.m_nRangeType, RANGETYPE_SMPTE);
    EXPECT_EQ(drop.m_tDuration, 100000000);

    SessionDescription pal;
    ProcessRange("smpte-25=0:00:00-0:00:10:12", &pal);
    EXPECT_EQ(pal.m_nRangeType, RANGETYPE_SMPTE25);
    EXPECT_DOUBLE_EQ(pal.m_dRangeEnd, 10.0 + 12.0 / 25.0);
}

TEST(RangeInfoTest, TimeValues) {
    EXPECT_EQ(Time(RANGETYPE_NPT, "now"), 0.0);
    EXPECT_EQ(Time(RANGETYPE_NPT, "12.25"), 12.25);
    EXPECT_EQ(Time(RANGETYPE_NPT, "1:02"), -99.0); // one ':' leaves the value unchanged
    EXPECT_EQ(Time(RANGETYPE_NPT, "1:02:03.5:07"), 3723.5);
    // npt has no frames: a fourth field is ignored.
    EXPECT_EQ(Time(RANGETYPE_NPT, "0:00:01:15"), 1.0);
    // smpte without frames, with frames after a full stop, with ff.nn.
    EXPECT_EQ(Time(RANGETYPE_SMPTE, "0:00:01"), 1.0);
    EXPECT_DOUBLE_EQ(Time(RANGETYPE_SMPTE, "0:00:01.15"), 1.5);
    EXPECT_DOUBLE_EQ(Time(RANGETYPE_SMPTE25, "0:00:01:10.50"), 1.0 + 10.5 / 25.0);
    // Drop-frame correction in the last second of a minute ending in 9.
    EXPECT_DOUBLE_EQ(Time(RANGETYPE_SMPTE, "0:09:59:16"), 599.0 + 14.0 / 28.0);
    EXPECT_DOUBLE_EQ(Time(RANGETYPE_SMPTE, "0:08:59:16"), 539.0 + 16.0 / 30.0);
}

TEST(RangeInfoTest, UnusableRangesChangeNothing) {
    const char* values[] = {"npt", "clock=19961108T142300Z-19961108T143520Z", "NPT=0-10",
                            "npt =0-10", ""};
    for (const char* value : values) {
        SCOPED_TRACE(value);
        SessionDescription desc;
        desc.m_nRangeType = RANGETYPE_SMPTE25;
        desc.m_dRangeStart = 1.0;
        desc.m_dRangeEnd = 2.0;
        desc.m_tDuration = 10000000;
        ProcessRange(value, &desc);
        EXPECT_EQ(desc.m_nRangeType, RANGETYPE_SMPTE25);
        EXPECT_EQ(desc.m_dRangeStart, 1.0);
        EXPECT_EQ(desc.m_dRangeEnd, 2.0);
        EXPECT_EQ(desc.m_tDuration, 10000000);
    }
    // A known type without '-' sets only the type.
    SessionDescription desc;
    ProcessRange("smpte=0:00:10", &desc);
    EXPECT_EQ(desc.m_nRangeType, RANGETYPE_SMPTE);
    EXPECT_EQ(desc.m_dRangeStart, 0.0);
}

TEST(RangeInfoTest, HugeValuesSaturate) {
    SessionDescription desc;
    ProcessRange("npt=0-1e300", &desc);
    EXPECT_EQ(desc.m_tDuration, INT64_MAX);
    EXPECT_EQ(SecondsToReferenceTime(-1e300), INT64_MIN);
    EXPECT_EQ(SecondsToReferenceTime(0.00000005), 0); // 0.5 + 0.4999 truncates to 0
    EXPECT_EQ(SecondsToReferenceTime(0.00000006), 1);
}
