// qel import --resume through the real binary: a grown log loads only its new lines, a rotated
// log (renamed, or compressed) is not loaded again, a truncated or replaced one is loaded from
// its start, and a run that failed part-way is completed by the next one with every line
// stored exactly once.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <functional>

#include "QelBinary.h"

namespace {

using namespace qeltest;

// Line n of a combined log; its path names n, so the stored rows can be told apart.
std::string LogLine(int n, const char* host = "10.0.0.1") {
    char line[256];
    std::snprintf(line, sizeof line,
                  "%s - - [10/Oct/2000:13:%02d:%02d -0700] \"GET /page/%d HTTP/1.1\" 200 %d "
                  "\"-\" \"agent\"\n",
                  host, (n / 60) % 60, n % 60, n, n);
    return line;
}
std::string LogLines(int first, int last, const char* host = "10.0.0.1") {
    std::string text;
    for (int n = first; n <= last; ++n) text += LogLine(n, host);
    return text;
}

void WriteGzip(const std::string& path, const std::string& text) {
    gzFile gz = gzopen(path.c_str(), "wb");
    ASSERT_NE(gz, nullptr);
    ASSERT_EQ(gzwrite(gz, text.data(), static_cast<unsigned>(text.size())),
              static_cast<int>(text.size()));
    gzclose(gz);
}

class Resume : public QelFiles {
  protected:
    // One --resume run over the given files into logs.db; returns the rows it added.
    std::string Load(const std::vector<std::string>& files) {
        std::vector<std::string> args = {"import", "--format", "combined", "--resume", "--quiet"};
        for (const auto& f : files) args.push_back(Path(f));
        args.push_back(Path("logs.db"));
        Outcome o = RunQel(args);
        EXPECT_EQ(o.status, 0) << o.err;
        return ResultValue(o.out, "Added");
    }
    std::string Rows() { return One(Path("logs.db"), "SELECT count(*) FROM access"); }
    // Every stored path once: "paths/distinct paths".
    std::string Distinct() {
        return One(Path("logs.db"), "SELECT count(*) || '/' || count(DISTINCT path) FROM access");
    }
};

TEST_F(Resume, EachLineOfAChangingLogIsLoadedOnce) {
    struct Step {
        const char* what;
        std::function<void()> change;   // what happens to the files before the run
        std::vector<std::string> load;  // the run's files
        const char* added;
        const char* rows;  // rows in the table after the run
    };
    const std::vector<Step> steps = {
        {"first run",
         [this] { Write("access.log", LogLines(1, 600)); },
         {"access.log"},
         "600",
         "600"},
        {"nothing new", [] {}, {"access.log"}, "0", "600"},
        {"the log grew",
         [this] {
             std::FILE* f = std::fopen(Path("access.log").c_str(), "ab");
             const std::string more = LogLines(601, 1000);
             std::fwrite(more.data(), 1, more.size(), f);
             std::fclose(f);
         },
         {"access.log"},
         "400",
         "1000"},
        {"rotated: renamed, and a new log started",
         [this] {
             std::rename(Path("access.log").c_str(), Path("access.log.1").c_str());
             Write("access.log", LogLines(1001, 1100, "10.0.0.2"));
         },
         {"access.log.1", "access.log"},
         "100",
         "1100"},
        {"the old log compressed under a new name",
         [this] {
             WriteGzip(Path("access.log.2.gz"), Read("access.log.1"));
             std::remove(Path("access.log.1").c_str());
         },
         {"access.log.2.gz", "access.log"},
         "0",
         "1100"},
        {"the current log replaced by a shorter one with other lines",
         [this] { Write("access.log", LogLines(2001, 2050, "10.0.0.3")); },
         {"access.log.2.gz", "access.log"},
         "50",
         "1150"},
        {"the current log truncated and written again from its first line",
         [this] { Write("access.log", LogLines(2001, 2010, "10.0.0.3")); },
         {"access.log"},
         "10",
         "1160"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        s.change();
        EXPECT_EQ(Load(s.load), s.added);
        EXPECT_EQ(Rows(), s.rows);
    }
    // The last step loaded lines 2001-2010 a second time, as a file loaded from its start does.
    EXPECT_EQ(One(Path("logs.db"), "SELECT count(DISTINCT path) FROM access"), "1150");
}

// A run that ends part-way (more rejected lines than --max-errors allows) keeps the rows it
// stored and where it got to; the next run goes on from there.
TEST_F(Resume, ARunThatFailedPartWayIsCompletedByTheNext) {
    Write("access.log", LogLines(1, 500) + "not a log line\n" + LogLines(502, 1000));
    Outcome failed = RunQel({"import", "--format", "combined", "--resume", "--quiet",
                             "--max-errors", "0", Path("access.log"), Path("logs.db")});
    EXPECT_EQ(failed.status, 1) << failed.out;
    EXPECT_EQ(Rows(), "500");
    EXPECT_EQ(Load({"access.log"}), "499");
    EXPECT_EQ(Distinct(), "999/999");
}

TEST_F(Resume, NeedsAFileDestinationAndNamedFiles) {
    Write("access.log", LogLines(1, 3));
    Outcome in = RunQel({"import", "--format", "combined", "--resume", "-", Path("logs.db")});
    EXPECT_EQ(in.status, 2);
    EXPECT_NE(in.err.find("--resume cannot be used with standard input"), std::string::npos)
        << in.err;
}

}  // namespace
