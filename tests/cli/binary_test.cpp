// The real `qel` binary: expressions, imports into temporary SQLite files, the exit statuses,
// the rejects file, the help, and an interrupted run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "QelBinary.h"

namespace {

using namespace qeltest;

// ---------------------------------------------------------------------------------------------
// qel eval

TEST(Eval, PrintsKindAndValue) {
    const struct {
        std::vector<std::string> args;
        const char* out;
    } cases[] = {
        {{"LENGTH('abc')"}, "Integer\t3\n"},
        {{"5/2"}, "Real\t2.5\n"},
        {{"SQRT(81)"}, "Real\t9\n"},
        {{"13!"}, "Real\t6227020800\n"},
        {{"1/3"}, "Real\t0.333333333333333\n"},
        {{"'abc'"}, "Text\tabc\n"},
        {{"Host"}, "Text\tHost\n"},  // an unresolved name is its own text
        {{"Host = 'Host'"}, "Boolean\tTrue\n"},
        {{"2 > 3"}, "Boolean\tFalse\n"},
        {{"PI * 2"}, "Real\t6.28\n"},
        {{"DATETIMEFROMSTRING('2003-12-25 10:15:42', 'YYYY-MM-DD HH:NN:SS', '-', ':')"},
         "DateTime\t2003-12-25 10:15:42\n"},
        {{"--define", "N=", "N"}, "Null\t\n"},
        {{"--define", "AVG3(a, b, c)=(a+b+c)/3", "AVG3(1, 2, 3)"}, "Real\t2\n"},
        {{"--define", "TWICE(x)=x*2", "--define", "PI=3", "TWICE(4) + PI"},
         "Real\t11.14\n"},  // the first PI wins
        {{"--decimal-separator", ";", "STRTOFLOAT('2;5') * 2"}, "Real\t5\n"},
        {{"5 - 8"}, "Real\t-3\n"},
    };
    for (const auto& c : cases) {
        Outcome o = RunQel([&] {
            std::vector<std::string> a{"eval"};
            a.insert(a.end(), c.args.begin(), c.args.end());
            return a;
        }());
        EXPECT_EQ(o.status, 0) << c.args.back() << "\n" << o.err;
        EXPECT_EQ(o.out, c.out) << c.args.back();
        EXPECT_EQ(o.err, "") << c.args.back();
    }
}

TEST(Eval, ErrorsPrintTheirMessageAndExitOne) {
    const struct {
        std::vector<std::string> args;
        const char* err;
        int status;
    } cases[] = {
        {{"1/0"}, "Floating point division by zero\n", 1},
        {{"SUBSTR('abc')"}, "List index out of bounds (2)\n", 1},
        {{"--define", "F(a=a", "1"}, "Function header \"F(a\" is not valid.\n", 1},
        {{"--define", "F(a + b)=a", "1"},
         "Function parse error: delimitor \",\" expected between arguments.\n",
         1},
        {{"--decimal-separator", "ab", "1"}, nullptr, 2},
        {{}, nullptr, 2},
        {{"1", "2"}, nullptr, 2},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"eval"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Outcome o = RunQel(args);
        EXPECT_EQ(o.status, c.status) << (c.args.empty() ? "" : c.args.back());
        EXPECT_EQ(o.out, "");
        if (c.err) {
            EXPECT_EQ(o.err, c.err);
        } else {
            EXPECT_FALSE(o.err.empty());
        }
    }
}

// ---------------------------------------------------------------------------------------------
// qel import

class Import : public QelFiles {};

const char* kLog =
    "Host\tCode\tSize\n"
    "a.example\t200\t1500\n"
    "b.example\t404\t0\n"
    "\n"
    "c.example\t200\t77\n";

TEST_F(Import, LoadsRowsIntoANewTable) {
    std::string src = Write("log.txt", kLog);
    std::string db = Path("log.db");
    Outcome o = RunQel({"import", "--create", "Host TEXT, Code INTEGER, Size INTEGER",
                        "--record-separator", "lf", "--first", "2", "--map", "Host=Field1", "--map",
                        "Code=Field2", "--map", "Size=Field3", src, db});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.err, "");
    const std::vector<std::string> lines = Lines(o.out);
    ASSERT_EQ(lines.size(), 7u) << o.out;
    EXPECT_EQ(lines[0], "Result: Executed");
    EXPECT_EQ(lines[1], "Processed: 3");  // the empty record is skipped
    EXPECT_EQ(lines[2], "Errors: 0");
    EXPECT_EQ(lines[3], "Added: 3");
    EXPECT_EQ(lines[4], "Updated: 0");
    EXPECT_EQ(lines[5], "Deleted: 0");
    EXPECT_TRUE(lines[6].rfind("Elapsed: ", 0) == 0 && lines[6].ends_with(" ms")) << lines[6];
    EXPECT_EQ(Query(db, "SELECT Host, Code, Size, typeof(Code) FROM log ORDER BY rowid"),
              (std::vector<std::string>{"a.example|200|1500|integer", "b.example|404|0|integer",
                                        "c.example|200|77|integer"}));
}

TEST_F(Import, TableChoosesAmongSeveralTablesOfTheFile) {
    std::string src = Write("log.txt", kLog);
    std::string db = Path("several.db");
    ASSERT_EQ(RunQel({"import", "--create", "Host TEXT", "--table", "first", "--record-separator",
                      "lf", "--first", "2", "--map", "Host=Field1", src, db})
                  .status,
              0);
    Outcome o = RunQel({"import", "--create", "Host TEXT, Code INTEGER", "--table", "Second",
                        "--record-separator", "lf", "--first", "2", "--map", "Host=Field1", "--map",
                        "Code=Field2", src, db});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(One(db, "SELECT count(*) FROM first"), "3");
    EXPECT_EQ(One(db, "SELECT group_concat(Code) FROM Second"), "200,404,200");
}

TEST_F(Import, ConditionsModesAndStandardInput) {
    std::string src = Write("log.txt", kLog);
    std::string db = Path("log.db");
    const std::vector<std::string> common = {
        "--record-separator", "lf",    "--first",     "2",     "--json",     "--map",
        "Host=Field1",        "--map", "Code=Field2", "--map", "Size=Field3"};
    auto args = [&](std::vector<std::string> extra, const std::string& source) {
        std::vector<std::string> a{"import"};
        a.insert(a.end(), common.begin(), common.end());
        a.insert(a.end(), extra.begin(), extra.end());
        a.push_back(source);
        a.push_back(db);
        return a;
    };
    // Only the 200s, read from standard input.
    Outcome o = RunQel(
        args({"--create", "Host TEXT, Code INTEGER, Size INTEGER", "--load-when", "Field2 = '200'"},
             "-"),
        Wiring{src, -1});
    ASSERT_EQ(o.status, 0) << o.err;
    auto j = nlohmann::json::parse(o.out);
    EXPECT_EQ(j["Result"], "Executed");
    EXPECT_EQ(j["Processed"], 3);
    EXPECT_EQ(j["Added"], 2);
    EXPECT_EQ(One(db, "SELECT group_concat(Host) FROM log"), "a.example,c.example");

    // Update by key: sizes change, nothing is added.
    Write("sizes.txt",
          "Host\tCode\tSize\na.example\t200\t1\nc.example\t200\t2\nz.example\t200\t3\n");
    o = RunQel(args({"--mode", "update", "--keys", "Host"}, Path("sizes.txt")));
    ASSERT_EQ(o.status, 0) << o.err;
    j = nlohmann::json::parse(o.out);
    EXPECT_EQ(j["Updated"], 2);
    EXPECT_EQ(j["Added"], 0);
    EXPECT_EQ(One(db, "SELECT group_concat(Host || '=' || Size) FROM log"),
              "a.example=1,c.example=2");

    // Delete by key, skipping one row by condition.
    o = RunQel(args({"--mode", "delete", "--keys", "Host", "--skip-if", "Field1 = 'c.example'"},
                    Path("sizes.txt")));
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(nlohmann::json::parse(o.out)["Deleted"], 1);
    EXPECT_EQ(One(db, "SELECT group_concat(Host) FROM log"), "c.example");
}

TEST_F(Import, ExitStatusesAndMessages) {
    std::string src = Write("log.txt", kLog);
    std::string db = Path("log.db");
    // A table to import into.
    ASSERT_EQ(RunQel({"import", "--create", "Host TEXT, Code INTEGER, Size INTEGER", "--last", "0",
                      src, db})
                  .status,
              0);
    const struct {
        const char* name;
        std::vector<std::string> args;
        int status;
        std::string err;     // the first line of standard error
        const char* result;  // nullptr: no result lines at all
    } cases[] = {
        {"missing source",
         {Path("nope.txt"), db},
         1,
         "Cannot open file " + Path("nope.txt"),
         "Unknown"},
        {"keys missing",
         {"--mode", "update", src, db},
         1,
         "Property DatasetKeys wasn't specified.",
         "Unknown"},
        {"missing database", {src, Path("nope.db")}, 1, "", "Unknown"},
        {"rejects file out of reach",
         {"--rejects", Path("no/dir/rejects.txt"), src, db},
         1,
         "Cannot open file " + Path("no/dir/rejects.txt"),
         "Unknown"},
        {"table not in the file",
         {"--table", "other", src, db},
         1,
         "Table 'other' not found in '" + db + "'",
         "Unknown"},
        {"bad mode", {"--mode", "insert", src, db}, 2, "", nullptr},
        {"unknown option", {"--frobnicate", src, db}, 2, "", nullptr},
        {"database missing", {src}, 2, "", nullptr},
        {"regional with a separator",
         {"--regional", "--date-separator", ".", src, db},
         2,
         "",
         nullptr},
        {"second statement in the column list",
         {"--create", "a TEXT); DROP TABLE log; --", "--table", "x", src, db},
         2,
         "",
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args{"import"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Outcome o = RunQel(args);
        EXPECT_EQ(o.status, c.status) << o.err;
        ASSERT_FALSE(o.err.empty());
        if (!c.err.empty()) {
            EXPECT_EQ(Lines(o.err)[0], c.err);
        }
        if (c.result) {
            EXPECT_EQ(ResultValue(o.out, "Result"), c.result);
            EXPECT_EQ(ResultValue(o.out, "Added"), "0");
        } else {
            EXPECT_EQ(o.out, "");
        }
    }
    EXPECT_EQ(One(db, "SELECT count(*) FROM log"), "0");
    EXPECT_EQ(Query(db, "SELECT name FROM sqlite_master WHERE name = 'x'").size(), 0u);
}

const char* kWithBadRows =
    "Host\tCode\n"
    "a\t200\n"
    "b\tabc\n"
    "c\t301\n"
    "d\tx1\n"
    "e\t500\n";

TEST_F(Import, RejectsKeepEveryFailingRowOnce) {
    std::string src = Write("bad.txt", kWithBadRows);
    std::string db = Path("bad.db");
    Write("rejects.txt", "from before\tkept\n");
    Outcome o = RunQel({"import", "--create", "Host TEXT, Code INTEGER", "--record-separator", "lf",
                        "--first", "2", "--map", "Host=Field1", "--map", "Code=Field2", "--rejects",
                        Path("rejects.txt"), src, db});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(ResultValue(o.out, "Errors"), "2");
    EXPECT_EQ(ResultValue(o.out, "Added"), "3");
    EXPECT_EQ(One(db, "SELECT group_concat(Host) FROM bad"), "a,c,e");
    const std::vector<std::string> rejects = Lines(Read("rejects.txt"));
    ASSERT_EQ(rejects.size(), 3u) << Read("rejects.txt");
    EXPECT_EQ(rejects[0], "from before\tkept");
    EXPECT_TRUE(rejects[1].rfind("b\tabc\t", 0) == 0) << rejects[1];
    EXPECT_TRUE(rejects[2].rfind("d\tx1\t", 0) == 0) << rejects[2];
    EXPECT_NE(rejects[1].find("Code"), std::string::npos)
        << "the message names the field: " << rejects[1];
    EXPECT_EQ(o.err.rfind("2 rows failed and were skipped; the first error: ", 0), 0u) << o.err;

    // Rows whose expressions fail never reach the table's Errors count, but they are rejected.
    o = RunQel({"import", "--record-separator", "lf", "--first", "2", "--last", "3", "--map",
                "Host=Field1", "--map", "Code=Field2 +", "--rejects", Path("syntax.txt"), src, db});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(ResultValue(o.out, "Errors"), "0");
    EXPECT_EQ(ResultValue(o.out, "Added"), "0");
    EXPECT_EQ(o.err.rfind("2 rows failed and were skipped", 0), 0u) << o.err;
    const std::vector<std::string> syntax = Lines(Read("syntax.txt"));
    ASSERT_EQ(syntax.size(), 2u);
    EXPECT_EQ(syntax[0].rfind("a\t200\t", 0), 0u) << syntax[0];
    EXPECT_EQ(syntax[1].rfind("b\tabc\t", 0), 0u) << syntax[1];
    EXPECT_EQ(One(db, "SELECT count(*) FROM bad"), "3");
}

TEST_F(Import, StopOnErrorEndsAtTheFirstFailingRowAndKeepsWhatCameBefore) {
    std::string src = Write("bad.txt", kWithBadRows);
    std::string db = Path("bad.db");
    Outcome o = RunQel({"import", "--create", "Host TEXT, Code INTEGER", "--record-separator", "lf",
                        "--first", "2", "--map", "Host=Field1", "--map", "Code=Field2",
                        "--stop-on-error", "--rejects", Path("rejects.txt"), src, db});
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(ResultValue(o.out, "Result"), "Failed");
    EXPECT_EQ(ResultValue(o.out, "Processed"), "2");
    // The outcome, then why.
    ASSERT_GE(Lines(o.err).size(), 2u) << o.err;
    EXPECT_EQ(Lines(o.err)[0], "An error has occurred during the data import process.");
    EXPECT_EQ(Lines(o.err)[1], "Invalid value for field 'Code'");
    EXPECT_EQ(One(db, "SELECT group_concat(Host) FROM bad"), "a");
    // The posting error is offered twice before the run stops; the row is written once.
    const std::vector<std::string> rejects = Lines(Read("rejects.txt"));
    ASSERT_EQ(rejects.size(), 1u) << Read("rejects.txt");
    EXPECT_TRUE(rejects[0].rfind("b\tabc\t", 0) == 0) << rejects[0];

    // --json tells why too; a run that did not fail has no "Error".
    for (bool stop : {true, false}) {
        std::vector<std::string> args{
            "import", "--record-separator", "lf",    "--first",     "2",
            "--map",  "Host=Field1",        "--map", "Code=Field2", "--json"};
        if (stop) args.push_back("--stop-on-error");
        args.insert(args.end(), {src, db});
        o = RunQel(args);
        const auto j = nlohmann::json::parse(o.out);
        EXPECT_EQ(j["Result"], stop ? "Failed" : "Executed");
        EXPECT_EQ(j.contains("Error"), stop);
        if (stop) {
            EXPECT_EQ(j["Error"], "Invalid value for field 'Code'");
        }
    }
}

TEST_F(Import, HelpNamesTheDefaultOfEveryOption) {
    for (const char* command : {"import", "eval"}) {
        Outcome o = RunQel({command, "--help"});
        ASSERT_EQ(o.status, 0);
        int options = 0;
        for (const std::string& line : Lines(o.out)) {
            std::size_t dashes = line.find("--");
            if (dashes == std::string::npos || line.find("--help") != std::string::npos) continue;
            if (line.find("Excludes:") != std::string::npos &&
                line.find("(default:") == std::string::npos) {
                continue;  // the description follows on the next line
            }
            ++options;
            EXPECT_NE(line.find("(default:"), std::string::npos) << command << ": " << line;
        }
        EXPECT_GT(options, 0) << command;
    }
    const std::string help = RunQel({"import", "--help"}).out;
    for (const char* option : {"--table",
                               "--create",
                               "--map",
                               "--mode",
                               "--keys",
                               "--delimiter",
                               "--qualifier",
                               "--record-separator",
                               "--fixed",
                               "--first",
                               "--last",
                               "--header",
                               "--keep-empty",
                               "--load-when",
                               "--skip-if",
                               "--trim",
                               "--oem",
                               "--date-order",
                               "--date-separator",
                               "--time-separator",
                               "--two-digit-year",
                               "--datetime-format",
                               "--decimal-separator",
                               "--thousand-separator",
                               "--currency",
                               "--true",
                               "--false",
                               "--regional",
                               "--update-step",
                               "--stop-on-error",
                               "--rejects",
                               "--quiet",
                               "--json"}) {
        EXPECT_NE(help.find(std::string("  ") + option + " "), std::string::npos) << option;
    }
}

// Writes `rows` log lines (and a header) into `file`.
void WriteBigLog(const std::string& file, int rows) {
    std::ofstream out(file, std::ios::binary);
    out << "Host\tCode\tSize\r\n";
    for (int i = 0; i < rows; ++i)
        out << "host" << i << ".example\t" << 200 + i % 5 << '\t' << i << "\r\n";
}

TEST_F(Import, InterruptCancelsAndCommitsWhatWasPosted) {
    const int rows = 300000;
    std::string src = Path("big.txt");
    WriteBigLog(src, rows);
    std::string db = Path("big.db");
    ASSERT_EQ(RunQel({"import", "--create", "Host TEXT, Code INTEGER, Size INTEGER", "--last", "0",
                      src, db})
                  .status,
              0);

    const std::string outFile = Path("out.txt"), errFile = Path("err.txt");
    pid_t pid = fork();
    if (pid == 0) {
        OpenStdin("");
        int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        ExecQel({"import", "--first", "2", "--update-step", "100", "--map", "Host=Field1", "--map",
                 "Code=Field2", "--map", "Size=Field3", src, db});
    }
    // Rows are being posted once the write transaction has its journal.
    bool writing = false;
    for (int i = 0; i < 20000 && !writing; ++i) {
        writing = fs::exists(db + "-journal") || fs::exists(db + "-wal");
        int raw = 0;
        if (!writing && waitpid(pid, &raw, WNOHANG) == pid)
            FAIL() << "finished before it could be interrupted";
        if (!writing) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(writing);
    kill(pid, SIGINT);
    int raw = 0;
    waitpid(pid, &raw, 0);
    const std::string out = Read("out.txt");
    ASSERT_EQ(StatusOf(raw), 3) << out << Read("err.txt");
    EXPECT_EQ(ResultValue(out, "Result"), "Canceled");
    const std::string added = ResultValue(out, "Added");
    EXPECT_GT(std::stoi(added), 0);
    EXPECT_LT(std::stoi(added), rows) << "the run was not interrupted";
    EXPECT_EQ(One(db, "SELECT count(*) FROM big"), added);
    EXPECT_EQ(One(db, "PRAGMA integrity_check"), "ok");
    // The rows kept are the first ones, in order, complete.
    EXPECT_EQ(One(db, "SELECT max(Size) + 1 = count(*) AND min(Size) = 0 FROM big"), "1");
    EXPECT_EQ(Lines(Read("err.txt")).back(), "The data import process was canceled by the user.");
}

TEST_F(Import, ProgressIsDrawnOnATerminalOnly) {
    std::string src = Path("big.txt");
    WriteBigLog(src, 3000);
    std::string db = Path("big.db");
    ASSERT_EQ(RunQel({"import", "--create", "Host TEXT, Code INTEGER, Size INTEGER", "--last", "0",
                      src, db})
                  .status,
              0);
    for (bool quiet : {false, true}) {
        int master = -1, slave = -1;
        ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
        std::vector<std::string> args{"import", "--first", "2", "--update-step", "100", src, db};
        if (quiet) args.insert(args.begin() + 1, "--quiet");
        Outcome o = RunQel(args, Wiring{"", slave});
        close(slave);
        std::string screen;
        char buf[4096];
        for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0;)
            screen.append(buf, static_cast<std::size_t>(n));
        close(master);
        ASSERT_EQ(o.status, 0) << screen;
        EXPECT_EQ(ResultValue(o.out, "Added"), "3000");
        if (quiet) {
            EXPECT_EQ(screen, "");
        } else {
            EXPECT_NE(screen.find("[####################] 100%  Processed: 3000"),
                      std::string::npos)
                << screen;
        }
        EXPECT_EQ(o.out.find('['), std::string::npos) << "standard output carries only the result";
    }
}

}  // namespace
