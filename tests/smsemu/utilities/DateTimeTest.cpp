// Packed date-times (DOS layout) of libsmsut.
#include "SmsEmuFixture.h"

#include <ctime>
#include <tuple>

namespace smsemutest {
namespace {

using DateTime = SmsEmu;

struct Fields {
    UINT16 year, month, day, hour, minute, second;
};

Fields unpack(UINT32 packed)
{
    Fields f{};
    NWSMUnPackDateTime(packed, &f.year, &f.month, &f.day, &f.hour, &f.minute, &f.second);
    return f;
}

auto tie(const Fields &f)
{
    return std::tie(f.year, f.month, f.day, f.hour, f.minute, f.second);
}

TEST_F(DateTime, PacksTheEdgesOfTheRange)
{
    EXPECT_EQ(NWSMPackDateTime(1980, 1, 1, 0, 0, 0), 0x00210000u);
    EXPECT_EQ(NWSMPackDateTime(2107, 12, 31, 23, 59, 59), 0xFF9FBF7Du);
    EXPECT_EQ(NWSMPackDateTime(2024, 2, 29, 13, 45, 30),
              (44u << 9 | 2u << 5 | 29u) << 16 | (13u << 11 | 45u << 5 | 15u));
}

TEST_F(DateTime, OutOfRangeFieldsPackToZero)
{
    const Fields bad[] = {{1979, 12, 31, 23, 59, 58}, {2108, 1, 1, 0, 0, 0},  {2000, 0, 1, 0, 0, 0},
                          {2000, 13, 1, 0, 0, 0},     {2000, 1, 0, 0, 0, 0},  {2000, 1, 32, 0, 0, 0},
                          {2000, 1, 1, 24, 0, 0},     {2000, 1, 1, 0, 60, 0}, {2000, 1, 1, 0, 0, 60}};
    for (const Fields &f : bad)
        EXPECT_EQ(NWSMPackDateTime(f.year, f.month, f.day, f.hour, f.minute, f.second), 0u)
            << f.year << "-" << f.month << "-" << f.day << " " << f.hour << ":" << f.minute << ":" << f.second;
}

TEST_F(DateTime, RoundTripsToEvenSeconds)
{
    const Fields samples[] = {{1980, 1, 1, 0, 0, 0},
                              {1999, 12, 31, 23, 59, 59},
                              {2038, 1, 19, 3, 14, 7},
                              {2107, 12, 31, 23, 59, 1},
                              {2024, 6, 15, 12, 30, 31}};
    for (const Fields &f : samples) {
        Fields back = unpack(NWSMPackDateTime(f.year, f.month, f.day, f.hour, f.minute, f.second));
        Fields expected = f;
        expected.second = static_cast<UINT16>(f.second / 2 * 2); // odd seconds round down
        EXPECT_EQ(tie(back), tie(expected)) << f.year;
    }
}

TEST_F(DateTime, UnpackingZeroGivesTheLocalEpoch)
{
    {
        ScopedEnv tz("TZ", "UTC");
        tzset();
        Fields f = unpack(0);
        EXPECT_EQ(tie(f), tie(Fields{1970, 1, 1, 0, 0, 0}));
    }
    if (!std::filesystem::exists("/usr/share/zoneinfo/America/New_York"))
        GTEST_SKIP() << "no time-zone data for America/New_York";
    {
        ScopedEnv tz("TZ", "America/New_York");
        tzset();
        Fields f = unpack(0);
        EXPECT_EQ(tie(f), tie(Fields{1969, 12, 31, 19, 0, 0}));
        // Converted back as the module does, a missing time is 0.
        std::tm tm{};
        tm.tm_year = f.year - 1900;
        tm.tm_mon = f.month - 1;
        tm.tm_mday = f.day;
        tm.tm_hour = f.hour;
        tm.tm_min = f.minute;
        tm.tm_sec = f.second;
        tm.tm_isdst = -1;
        EXPECT_EQ(mktime(&tm), 0);
    }
    tzset();
}

TEST_F(DateTime, UnpacksAnyWordFieldByFieldAndSkipsMissingOutputs)
{
    Fields f = unpack(0xFFFFFFFFu);
    EXPECT_EQ(tie(f), tie(Fields{2107, 15, 31, 31, 63, 62}));
    UINT16 year = 0;
    NWSMUnPackDateTime(0x00210000u, &year, nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(year, 1980);
}

} // namespace
} // namespace smsemutest
