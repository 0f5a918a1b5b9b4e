#include "engine/ReportBook.h"

#include <gtest/gtest.h>

// TP-ST by its class: completed, temporary while the centre still tries, permanent, and
// temporary with no more attempts; reserved values claim no outcome.
TEST(ReportStatus, EveryTpStatusClass) {
    const std::pair<int, int> cases[] = {
        {0x00, 1}, {0x01, 1}, {0x02, 1}, {0x1F, 1}, {0x20, 0}, {0x25, 0}, {0x3F, 0}, {0x40, -1},
        {0x41, -1}, {0x5F, -1}, {0x60, -1}, {0x65, -1}, {0x7F, -1}, {0x80, 0}, {0xFF, 0}, {-1, 0},
    };
    for (const auto& [status, value] : cases) EXPECT_EQ(value, ReportStatusValue(status)) << status;
}

// References wrap at 256: the newest submission with the reference to the same number
// within three days is the one a report belongs to.
TEST(ReportStatus, MatchTakesTheNewestSubmissionWithinThreeDays) {
    CReportBook book;
    const long long day = 24LL * 60 * 60 * 1000, now = 10 * day;
    book.Add({7, "old", "+4917012345", now - 4 * day});
    book.Add({7, "earlier", "+49 170 12345", now - 2 * day});
    book.Add({7, "newest", "0049 17012345", now - 1 * day});
    book.Add({7, "other", "+4917099999", now});
    ASSERT_NE(nullptr, book.Match(7, "+4917012345", now));
    EXPECT_EQ("newest", book.Match(7, "+4917012345", now)->msgId);
    EXPECT_EQ(nullptr, book.Match(8, "+4917012345", now));
    EXPECT_EQ(nullptr, book.Match(7, "+4917012346", now));
    EXPECT_EQ(3u, book.Size());  // the one older than three days was forgotten
}
