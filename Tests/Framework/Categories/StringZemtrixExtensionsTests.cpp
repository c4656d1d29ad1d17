#include <gtest/gtest.h>
#include "VostrelleBuildPaths.h"

#include <cstdlib>
#include <ctime>

#include "Categories/String+ZemtrixExtensions.h"
#include "Miscellaneous/ZMLocalization.h"
#include "Miscellaneous/ZMPaths.h"
#include "Support/TestSupport.h"

using namespace ZemtrixExtensions;
using Clock = std::chrono::system_clock;

namespace {
// 2026-12-06T12:00:00Z
const Clock::time_point kNow = Clock::from_time_t(1796558400);

// Runs the test body in another time zone and puts the old one back.
class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) saved_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone() {
        if (saved_) setenv("TZ", saved_->c_str(), 1); else unsetenv("TZ");
        tzset();
    }

private:
    std::optional<std::string> saved_;
};
}  // namespace

TEST(StringZemtrixExtensions, TimeSinceUsesTheUnitThresholds) {
    ASSERT_EQ(iso8601String(kNow), "2026-12-06T12:00:00Z");
    struct Case { long long secondsAgo; const char* text; };
    const Case cases[] = {
        {0, "0 seconds ago"},        {1, "1 seconds ago"},       {59, "59 seconds ago"},
        {60, "1 minute ago"},        {119, "1 minute ago"},      {120, "2 minutes ago"},
        {3599, "59 minutes ago"},    {3600, "1 hour ago"},       {7199, "1 hour ago"},
        {7200, "2 hours ago"},       {86399, "23 hours ago"},    {86400, "1 day ago"},
        {172799, "1 day ago"},       {172800, "2 days ago"},     {40 * 86400 + 5, "40 days ago"},
    };
    for (const auto& c : cases) {
        std::string text = iso8601String(kNow - std::chrono::seconds(c.secondsAgo));
        EXPECT_EQ(timeSince(text, kNow), c.text) << c.secondsAgo << " s before: " << text;
    }
}

TEST(StringZemtrixExtensions, TimeSinceReadsTheTextAsUtcWhateverTheLocalZone) {
    for (const char* zone : {"UTC0", "America/New_York", "Asia/Kolkata", "Pacific/Kiritimati"}) {
        TimeZone tz(zone);
        EXPECT_EQ(timeSince("2026-12-06T11:30:00Z", kNow), "30 minutes ago") << zone;
        EXPECT_EQ(timeSince("2026-12-05T12:00:00Z", kNow), "1 day ago") << zone;
    }
}

TEST(StringZemtrixExtensions, TimeSinceNeverShowsTheFutureAsNegative) {
    EXPECT_EQ(timeSince("2026-12-06T12:00:30Z", kNow), "0 seconds ago");
    EXPECT_EQ(timeSince("2027-01-01T00:00:00Z", kNow), "0 seconds ago");
}

TEST(StringZemtrixExtensions, TimeSinceRejectsEmptyAndMalformedTexts) {
    for (const char* text : {"", "yesterday", "2026-12-06 11:00:00", "2026-12-06T11:00:00", "2026-12-06T11:00:00+01:00",
                             "2026-13-01T00:00:00Z", "2026-02-30T00:00:00Z", "2026-12-06T24:00:00Z",
                             "2026-12-06T11:00:00Z trailing", "26-12-06T11:00:00Z"}) {
        EXPECT_EQ(timeSince(text, kNow), std::nullopt) << text;
    }
    EXPECT_EQ(timeSince("2024-02-29T12:00:00Z", kNow).has_value(), true) << "leap day";
}

TEST(StringZemtrixExtensions, TimeSinceIsLocalizedAndTranslationsCannotInjectFormats) {
    TestSupport::TempDir resources;
    TestSupport::writeFile(resources.file("Localization/xx/Localizable.json"),
                           R"({"%.0f minutes ago": "vor %.0f Minuten", "%.0f days ago": "%s%n %.0f Tage"})");
    ZMPaths::setResourcesDirectory(resources.path());
    ZMLocalization::setLanguage("xx");
    EXPECT_EQ(timeSince("2026-12-06T11:55:00Z", kNow), "vor 5 Minuten");
    EXPECT_EQ(timeSince("2026-11-06T12:00:00Z", kNow), "%s%n 30 Tage");
    EXPECT_EQ(timeSince("2026-12-06T10:00:00Z", kNow), "2 hours ago") << "untranslated text stays English";
    ZMPaths::setResourcesDirectory(VOSTRELLE_RESOURCES_DIR);
    ZMLocalization::setLanguage("en");
}

TEST(StringZemtrixExtensions, TheEnglishTableHasEveryTimeSinceFormat) {
    std::string table = TestSupport::readFile(std::string(VOSTRELLE_RESOURCES_DIR) + "/Localization/en/Localizable.json");
    for (const char* key : {"%.0f seconds ago", "%.0f minute ago", "%.0f minutes ago", "%.0f hour ago",
                            "%.0f hours ago", "%.0f day ago", "%.0f days ago"}) {
        EXPECT_NE(table.find(std::string("\"") + key + "\""), std::string::npos) << key;
    }
}

TEST(StringZemtrixExtensions, DateTextsInLocalTimeAndUtc) {
    TimeZone tz("Asia/Tokyo");  // UTC+9, no daylight saving
    auto date = Clock::from_time_t(1796558405);  // 2026-12-06T12:00:05Z
    EXPECT_EQ(dateMinuteString(date), "2026-12-06 21:00");
    EXPECT_EQ(dateSecondString(date), "2026-12-06 21:00:05");
    EXPECT_EQ(iso8601String(date), "2026-12-06T12:00:05Z");
    EXPECT_EQ(dateFromLocalString("2026-12-06 21:00:05"), date);
    EXPECT_EQ(dateFromLocalString("2026-12-06 21:00"), date - std::chrono::seconds(5));
    EXPECT_EQ(dateFromLocalString("2026-12-06T21:00"), std::nullopt);
    EXPECT_EQ(dateFromLocalString("2026-12-06 21:00:5"), std::nullopt);
}

TEST(StringZemtrixExtensions, Iso8601ReadsZonesAndFractions) {
    auto date = Clock::from_time_t(1796558400);
    EXPECT_EQ(dateFromISO8601("2026-12-06T12:00:00Z"), date);
    EXPECT_EQ(dateFromISO8601("2026-12-06T14:00:00+02:00"), date);
    EXPECT_EQ(dateFromISO8601("2026-12-06T07:30:00-0430"), date);
    EXPECT_EQ(dateFromISO8601("2026-12-06T12:00:00.250Z"), date + std::chrono::milliseconds(250));
    for (const char* text : {"2026-12-06T12:00:00", "2026-12-06T12:00:00.Z", "2026-12-06T12:00:00+2", "2026-12-06",
                             "2026-12-06T12:00:00Zjunk", "2026-12-32T12:00:00Z"}) {
        EXPECT_EQ(dateFromISO8601(text), std::nullopt) << text;
    }
}

TEST(StringZemtrixExtensions, PlainTextLineKeepsOneCappedLineOfText) {
    const struct {
        std::string text;
        size_t limit;
        std::string expected;
    } cases[] = {
        {"Plain Name", 256, "Plain Name"},
        {"  two\nlines\r\n\tand tab ", 256, "two lines and tab"},
        {std::string("bell\x07, del\x7F, nul") + '\0' + "!", 256, "bell, del, nul!"},
        {"C1 \xC2\x85next, kept \xC3\xA9", 256, "C1 next, kept \xC3\xA9"},
        {"bad \xFF\xC3 bytes", 256, "bad  bytes"},
        {"\xC3\xA9\xC3\xA9\xC3\xA9", 2, "\xC3\xA9\xC3\xA9"},  // cut between code points
        {std::string(300, 'o'), 256, std::string(256, 'o')},
    };
    for (const auto& c : cases) EXPECT_EQ(plainTextLine(c.text, c.limit), c.expected) << c.text;
}
