// Scan options and the conversion between epoch seconds and packed date-times.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "KXSMS.h"

namespace {

class ScanControl : public ::testing::Test {
protected:
    void SetUp() override { object = CreateKXSMS(); }
    void TearDown() override { DestroyKXSMS(object); }
    CKXSMS *object = nullptr;
};

TEST_F(ScanControl, DefaultRecordByteForByte)
{
    unsigned char expected[64] = {0x40, 0x00, 0x3D, 0x00, 0x01, 0x00, 0x00, 0x00};
    memset(expected + 52, 0xFF, 8);
    EXPECT_EQ(memcmp(object->GetScanControl(), expected, sizeof expected), 0);
}

TEST_F(ScanControl, TraverseWritesTheWholeScanTypeWord)
{
    NWSM_SCAN_CONTROL control = *object->GetScanControl();
    control.scanType = 0xABCD0007;
    object->SetScanControl(&control);
    object->SetScanTraverse(true);
    EXPECT_EQ(object->GetScanControl()->scanType, 0u);
    object->GetScanControl()->scanType = 0xABCD0007;
    object->SetScanTraverse(false);
    EXPECT_EQ(object->GetScanControl()->scanType, 1u);
}

TEST_F(ScanControl, SetScanControlCopiesSixtyFourBytesAndIgnoresNull)
{
    unsigned char bytes[64];
    for (unsigned i = 0; i < sizeof bytes; ++i)
        bytes[i] = static_cast<unsigned char>(i * 7 + 1);
    object->SetScanControl(reinterpret_cast<NWSM_SCAN_CONTROL *>(bytes));
    EXPECT_EQ(memcmp(object->GetScanControl(), bytes, 64), 0);
    object->SetScanControl(nullptr);
    EXPECT_EQ(memcmp(object->GetScanControl(), bytes, 64), 0);
}

TEST_F(ScanControl, ModifiedRangeBounds)
{
    const long t = 1700000000; // 2023
    object->SetScanModifiedDateTimeRange(t, 0);
    EXPECT_EQ(object->GetScanControl()->firstModifiedDateAndTime, object->PackTime(t));
    EXPECT_NE(object->GetScanControl()->firstModifiedDateAndTime, 0u);
    EXPECT_EQ(object->GetScanControl()->lastModifiedDateAndTime, 0u);
    object->SetScanModifiedDateTimeRange(0, t + 100);
    EXPECT_EQ(object->GetScanControl()->firstModifiedDateAndTime, 0u);
    EXPECT_EQ(object->GetScanControl()->lastModifiedDateAndTime, object->PackTime(t + 100));
    object->SetScanModifiedDateTimeRange(0, 0);
    EXPECT_EQ(object->GetScanControl()->firstModifiedDateAndTime, 0u);
    EXPECT_EQ(object->GetScanControl()->lastModifiedDateAndTime, 0u);
}

// Runs a body under a time zone and restores the previous one.
class TimeZone {
public:
    explicit TimeZone(const char *zone)
    {
        const char *old = getenv("TZ");
        hadOld = old != nullptr;
        if (hadOld)
            previous = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone()
    {
        if (hadOld)
            setenv("TZ", previous.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool hadOld = false;
    std::string previous;
};

class PackedTimes : public ScanControl, public ::testing::WithParamInterface<const char *> {};

TEST_P(PackedTimes, RoundTripToTheEvenSecond)
{
    TimeZone zone(GetParam());
    // Every 37 minutes and 13 seconds over two years that contain
    // daylight-saving changes in both directions.
    const long begin = 1704067200; // 2024-01-01 UTC
    const long end = begin + 2L * 366 * 86400;
    for (long t = begin; t < end; t += 37 * 60 + 13) {
        struct tm calendar;
        localtime_r(&t, &calendar);
        const long back = static_cast<long>(object->UnpackTime(object->PackTime(t)));
        const long expected = t - (calendar.tm_sec % 2);
        // In the hour (or half hour) that repeats when clocks go back, the
        // local fields name two instants; either is a faithful round trip.
        if (back != expected) {
            const long shift = std::labs(back - expected);
            EXPECT_TRUE(shift == 3600 || shift == 1800) << GetParam() << " t=" << t << " back=" << back;
        }
    }
}

TEST_P(PackedTimes, ZeroIsMissing)
{
    TimeZone zone(GetParam());
    EXPECT_EQ(object->UnpackTime(0), 0u);
}

TEST_P(PackedTimes, TimesBeyond2038StayPositive)
{
    TimeZone zone(GetParam());
    const long t = 2524608000L + 7 * 3600; // 2050-01-01 07:00 UTC
    const unsigned packed = object->PackTime(t);
    ASSERT_NE(packed, 0u);
    NWSM_SCAN_INFORMATION info;
    memset(&info, 0, sizeof info);
    info.createDateAndTime = packed;
    long created = 0;
    object->GetRelativeFileTimes(&info, &created, nullptr, nullptr);
    EXPECT_EQ(created, t);
    EXPECT_GT(created, 0x7FFFFFFFL);
}

INSTANTIATE_TEST_SUITE_P(Zones, PackedTimes,
                         ::testing::Values("UTC", "America/New_York", "Europe/Berlin", "Australia/Lord_Howe",
                                           "Asia/Kolkata"));

TEST_F(ScanControl, TimesOutsideThePackedRangeAreNotPacked)
{
    TimeZone zone("UTC");
    EXPECT_EQ(object->PackTime(0), 0u);                   // 1970
    EXPECT_EQ(object->PackTime(315532799), 0u);           // 1979-12-31 23:59:59
    EXPECT_NE(object->PackTime(315532800), 0u);           // 1980-01-01
    EXPECT_EQ(object->PackTime(4354819200L), 0u);         // 2108-01-01
    EXPECT_EQ(object->PackTime(0x7FFFFFFFFFFFFFFFL), 0u); // no calendar form at all
}

struct RelativeCase {
    const char *what;
    long created, modified, accessed; // 0 = missing
    long expectCreated, expectModified, expectAccessed;
};

class RelativeTimes : public ScanControl, public ::testing::WithParamInterface<RelativeCase> {};

TEST_P(RelativeTimes, FollowTheOrderCreationModificationAccess)
{
    TimeZone zone("UTC");
    const RelativeCase &c = GetParam();
    object->SetScanStartTime(1800000000);
    NWSM_SCAN_INFORMATION info;
    memset(&info, 0, sizeof info);
    info.createDateAndTime = c.created ? object->PackTime(c.created) : 0;
    info.modifiedDateAndTime = c.modified ? object->PackTime(c.modified) : 0;
    info.accessDateAndTime = c.accessed ? object->PackTime(c.accessed) : 0;
    long created = -1, modified = -1, accessed = -1;
    object->GetRelativeFileTimes(&info, &created, &modified, &accessed);
    EXPECT_EQ(created, c.expectCreated) << c.what;
    EXPECT_EQ(modified, c.expectModified) << c.what;
    EXPECT_EQ(accessed, c.expectAccessed) << c.what;
    // Null outputs are skipped.
    object->GetRelativeFileTimes(&info, nullptr, nullptr, nullptr);
}

const long A = 1600000000, B = 1600000100, C = 1600000200, S = 1800000000;

INSTANTIATE_TEST_SUITE_P(Rules, RelativeTimes,
                         ::testing::Values(RelativeCase{"all present and ordered", A, B, C, A, B, C},
                                           RelativeCase{"none present: the scan start time", 0, 0, 0, S, S, S},
                                           RelativeCase{"only creation: modification follows it", A, 0, 0, A, A, S},
                                           RelativeCase{"modification before creation is raised", B, A, C, B, B, C},
                                           RelativeCase{"access before the raised modification is raised", C, A, B, C,
                                                        C, C},
                                           RelativeCase{"only modification", 0, B, 0, S, S, S},
                                           RelativeCase{"only access", 0, 0, A, S, S, S}));

} // namespace
