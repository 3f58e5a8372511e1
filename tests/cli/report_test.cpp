// The result lines, the exit statuses and the rejects file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/RunReport.h"

namespace qel::cli {
namespace {

namespace fs = std::filesystem;

TEST(RunReport, LinesAndJsonCarryTheSameValues) {
    TQelStatistic s;
    s.SetResult(irCanceled);
    s.SetTotalImported(120);
    s.SetTotalErrors(3);
    s.SetTotalAdded(100);
    s.SetTotalUpdated(10);
    s.SetTotalDeleted(7);
    s.SetTotalCount(999);  // not reported
    const TRunSummary summary = SummaryOf(s, 1234);

    std::ostringstream lines;
    PrintSummary(lines, summary, false);
    EXPECT_EQ(lines.str(),
              "Result: Canceled\nProcessed: 120\nErrors: 3\nAdded: 100\nUpdated: 10\nDeleted: "
              "7\nElapsed: 1234 ms\n");

    std::ostringstream json;
    PrintSummary(json, summary, true);
    const std::string text = json.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
    const auto j = nlohmann::json::parse(text);
    EXPECT_EQ(j.size(), 7u);
    EXPECT_EQ(j["Result"], "Canceled");
    EXPECT_EQ(j["Processed"], 120);
    EXPECT_EQ(j["Errors"], 3);
    EXPECT_EQ(j["Added"], 100);
    EXPECT_EQ(j["Updated"], 10);
    EXPECT_EQ(j["Deleted"], 7);
    EXPECT_EQ(j["Elapsed"], 1234);
}

// A failed run's reason goes into the JSON object as "Error", also when it quotes source bytes
// that are not UTF-8; the result lines stay as they are (the reason goes to standard error).
TEST(RunReport, ReasonOfAFailedRunInJson) {
    TQelStatistic s;
    s.SetResult(irFailed);
    TRunSummary summary = SummaryOf(s, 5);
    summary.Error =
        "'\xFF"
        "1' is not a valid integer value";
    std::ostringstream json;
    PrintSummary(json, summary, true);
    const auto j = nlohmann::json::parse(json.str());
    EXPECT_EQ(j.size(), 8u);
    EXPECT_EQ(j["Error"],
              "'\xEF\xBF\xBD"
              "1' is not a valid integer value");
    std::ostringstream lines;
    PrintSummary(lines, summary, false);
    EXPECT_EQ(lines.str().find("valid"), std::string::npos);
}

TEST(RunReport, ResultNamesAndExitStatuses) {
    const struct {
        TQelResult result;
        const char* text;
        int status;
    } cases[] = {
        {irExecuted, "Executed", 0},
        {irFailed, "Failed", 1},
        {irUnknown, "Unknown", 1},
        {irCanceled, "Canceled", 3},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(ResultText(c.result), c.text);
        EXPECT_EQ(ExitStatusOf(c.result), c.status) << c.text;
    }
}

class RejectsFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("qel_rejects_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    fs::path dir_;
};

TEST_F(RejectsFileTest, OneLinePerFailingRowAppendedToWhatIsThere) {
    const fs::path file = dir_ / "rejects.txt";
    std::ofstream(file) << "earlier\tkept\n";
    TRejectsFile rejects(file.string());
    rejects.Write(2, "h2\tabc", "Invalid value for field 'Code'");
    rejects.Write(2, "h2\tabc", "Invalid value for field 'Code'");  // offered a second time
    rejects.Write(3, "h2\tabc", "Invalid value for field 'Code'");  // same text, another row
    rejects.Write(5, "", "empty line");
    rejects.Close();
    EXPECT_EQ(rejects.Count(), 3);
    EXPECT_EQ(Read(file),
              "earlier\tkept\n"
              "h2\tabc\tInvalid value for field 'Code'\n"
              "h2\tabc\tInvalid value for field 'Code'\n"
              "\tempty line\n");
}

TEST_F(RejectsFileTest, UnwritablePlaceFailsAtOnce) {
    const std::string file = (dir_ / "missing" / "rejects.txt").string();
    try {
        TRejectsFile rejects(file);
        FAIL() << "opened";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file " + file);
    }
}

TEST_F(RejectsFileTest, WriteFailureIsReportedOnClose) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    TRejectsFile rejects("/dev/full");
    rejects.Write(1, std::string(100000, 'x'), "too much");
    EXPECT_THROW(rejects.Close(), EInOutError);
}

}  // namespace
}  // namespace qel::cli
