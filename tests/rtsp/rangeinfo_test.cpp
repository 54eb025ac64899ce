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

TEST(RangeInfoTest, NptAndSmpteRanges) {
    struct Case {
        const char* pszValue;
        int32_t nType;
        double dStart, dEnd;
        int64_t tDuration;
    };
    const Case cases[] = {
        {"npt=now-", RANGETYPE_NPT, 0.0, -1.0, 0},
        {" npt=0-7.741", RANGETYPE_NPT, 0.0, 7.741, 77410000},
        {"npt=0:01:02.5-1:00:00", RANGETYPE_NPT, 62.5, 3600.0, 35375000000},
        // An end not after the start gives no duration.
        {"npt=30-10", RANGETYPE_NPT, 30.0, 10.0, 0},
        {"npt=0-1e300", RANGETYPE_NPT, 0.0, 1e300, INT64_MAX},
        {"smpte=10:07:00-10:07:33:05.01", RANGETYPE_SMPTE, 36420.0, 36453.0 + 5.01 / 30.0,
         331670000},
        {"smpte-30-drop=0:00:00-0:00:10", RANGETYPE_SMPTE, 0.0, 10.0, 100000000},
        {"smpte-25=0:00:00-0:00:10:12", RANGETYPE_SMPTE25, 0.0, 10.0 + 12.0 / 25.0, 104800000},
        // A known type without '-' sets only the type.
        {"smpte=0:00:10", RANGETYPE_SMPTE, 0.0, -1.0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pszValue);
        SessionDescription desc;
        ProcessRange(c.pszValue, &desc);
        EXPECT_EQ(desc.m_nRangeType, c.nType);
        EXPECT_DOUBLE_EQ(desc.m_dRangeStart, c.dStart);
        EXPECT_DOUBLE_EQ(desc.m_dRangeEnd, c.dEnd);
        EXPECT_EQ(desc.m_tDuration, c.tDuration);
    }
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
}

TEST(RangeInfoTest, SecondsToReferenceTimeSaturatesAndRounds) {
    EXPECT_EQ(SecondsToReferenceTime(-1e300), INT64_MIN);
    EXPECT_EQ(SecondsToReferenceTime(0.00000005), 0); // 0.5 + 0.4999 truncates to 0
    EXPECT_EQ(SecondsToReferenceTime(0.00000006), 1);
}
