// The shared random generator, the default path and the failure report's text.

#include "DefaultPath.h"
#include "FailureReport.h"
#include "SharedRandom.h"

#include <gtest/gtest.h>

#include <vector>

using noggix::RandomGenerator;

TEST(SharedRandom, FirstTenDrawsOfRangeFive)
{
    // The shared generator itself, untouched so far in this process.
    std::vector<quint32> draws;
    for (int i = 0; i < 10; ++i)
        draws.push_back(noggix::SharedRandom().draw(5));
    EXPECT_EQ(draws, (std::vector<quint32>{0, 0, 4, 1, 1, 3, 1, 0, 1, 2}));
}

TEST(SharedRandom, DrawsStayInRangeAndUseTheUpperBits)
{
    RandomGenerator random;
    for (int i = 0; i < 10000; ++i)
        ASSERT_LT(random.draw(44), 44u);
    // With range 2^32 - 1 a draw returns the new state minus one: the states after the first
    // two steps are 1 and 134775814.
    RandomGenerator fresh;
    EXPECT_EQ(fresh.draw(0xFFFFFFFFu), 0u);
    EXPECT_EQ(fresh.state(), 1u);
    EXPECT_EQ(fresh.draw(0xFFFFFFFFu), 134775813u);
    // A copy looks ahead without moving the original on.
    RandomGenerator copy = fresh;
    copy.draw(5);
    EXPECT_EQ(fresh.state(), 134775814u);
}

TEST(DefaultPath, OneSlashBeforeTheFileName)
{
    EXPECT_EQ(noggix::DefaultBackupPath("/home/ann/Documents"),
              "/home/ann/Documents/mybrain.brains");
    EXPECT_EQ(noggix::DefaultBackupPath("/home/ann/Documents/"),
              "/home/ann/Documents/mybrain.brains");
    EXPECT_EQ(noggix::DefaultBackupPath("/"), "/mybrain.brains");
    EXPECT_EQ(noggix::DefaultBackupPath(""), "/mybrain.brains");
}

TEST(FailureReport, PeriodOnlyAfterCharactersAboveThePeriod)
{
    EXPECT_EQ(noggix::FailureReportText("Stream write error"), "Stream write error.");
    EXPECT_EQ(noggix::FailureReportText("Error 5"), "Error 5.");
    EXPECT_EQ(noggix::FailureReportText("Cannot create file \"x\". Denied"),
              "Cannot create file \"x\". Denied.");
    EXPECT_EQ(noggix::FailureReportText("(see above)"), "(see above)");
    EXPECT_EQ(noggix::FailureReportText("trailing blank "), "trailing blank ");
    EXPECT_EQ(noggix::FailureReportText("done."), "done.");
    EXPECT_EQ(noggix::FailureReportText("a-"), "a-");
    EXPECT_EQ(noggix::FailureReportText("a/"), "a/.");
    EXPECT_EQ(noggix::FailureReportText(""), "");
}
