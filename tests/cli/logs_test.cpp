// Access logs through the real `qel` binary: --format into typed columns, rejected lines,
// --max-errors, several inputs, an existing table, and `qel sniff`.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "QelBinary.h"

namespace {

using namespace qeltest;

class Logs : public QelFiles {};

const std::string kSample = std::string(QEL_TEST_DATA) + "/nginx-shop-access.log";
const std::string kNginxMain =
    R"($remote_addr - $remote_user [$time_local] "$request" $status $body_bytes_sent "$http_referer" "$http_user_agent" "$http_x_forwarded_for")";

std::vector<std::string> FileLines(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Lines(std::string(std::istreambuf_iterator<char>(in), {}));
}

TEST_F(Logs, RealNginxLogGivesOneRowPerLineWithUtcTimes) {
    const std::string db = Path("logs.db");
    Outcome o = RunQel({"import", "--format", kNginxMain, "--quiet", kSample, db});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(ResultValue(o.out, "Processed"), "1000");
    EXPECT_EQ(ResultValue(o.out, "Rejected"), "0");
    EXPECT_EQ(ResultValue(o.out, "Added"), "1000");
    EXPECT_EQ(One(db, "SELECT count(*) FROM access"), "1000");
    // The first and the last line, +0330 taken off to the second.
    EXPECT_EQ(One(db,
                  "SELECT host, time, tz, method, protocol, status, bytes, x_forwarded_for "
                  "FROM access ORDER BY rowid LIMIT 1"),
              "54.36.149.41|2019-01-22 00:26:14|+0330|GET|HTTP/1.1|200|30577|-");
    EXPECT_EQ(One(db, "SELECT host, time FROM access ORDER BY rowid DESC LIMIT 1"),
              "89.47.79.75|2019-01-22 00:29:11");
    EXPECT_EQ(One(db, "SELECT typeof(status), typeof(bytes), count(*) FROM access GROUP BY 1, 2"),
              "integer|integer|1000");
    EXPECT_EQ(One(db, "SELECT count(*) FROM access WHERE x_forwarded_for = '103.28.132.65'"), "13");
}

// Lines as real logs have them, each either a row or a rejected line with its reason.
TEST_F(Logs, EveryLineIsARowOrARejectedLine) {
    struct Line {
        std::string text;
        const char* rejected;  // nullptr: a row
    } lines[] = {
        {R"(127.0.0.1 - frank [10/Oct/2000:13:55:36 -0700] "GET /a.gif HTTP/1.0" 200 2326 "-" "Mozilla/4.08")",
         nullptr},
        {R"(::1 - - [10/Oct/2000:13:55:37 -0700] "GET / HTTP/1.1" 304 - "-" "curl/8")", nullptr},
        {R"(2001:db8::1 - - [10/Oct/2000:13:55:38 -0700] "-" 408 - "-" "-")", nullptr},
        {R"(h - - [10/Oct/2000:13:55:39 -0700] "GET /q?x=\"1\" HTTP/1.1" 200 1 "-" "A \"quoted\" agent")",
         nullptr},
        {"h - - [10/Oct/2000:13:55:40 -0700] \"GET /\xff\xfe HTTP/1.1\" 200 1 \"-\" \"\xc3\x28\"",
         nullptr},
        // Cut short while the server wrote it: the unbalanced quote takes nothing from the next
        // line.
        {R"(h - - [10/Oct/2000:13:55:41 -0700] "GET /b HTTP/1.1" 200 1 "-" "Mozilla/5.0 (Win)",
         "the line ends inside the quoted agent field"},
        {R"(h - - [10/Oct/2000:13:55:42 -0700] "GET /c HTT)",
         "ends inside the quoted request field"},
        {"", "empty line"},
        {"# a comment", "comment line"},
        {R"(h - - [10/Oct/2000:13:55:43 -0700] "GET / HTTP/1.1" 200 12k "-" "x")",
         "'12k' is not a whole number (the bytes field)"},
        {R"(h - - [10/Oct/2000:13:55:44 -0700] "GET /last HTTP/1.1" 200 5 "-" "x")", nullptr},
    };
    std::string text;
    int rows = 0;
    for (const Line& l : lines) {
        text += l.text + "\n";
        rows += l.rejected == nullptr;
    }
    const std::string log = Write("access.log", text);
    const std::string db = Path("logs.db");
    const std::string rejects = Path("rejects.txt");
    Outcome o =
        RunQel({"import", "--format", "combined", "--rejects", rejects, "--quiet", log, db});
    ASSERT_EQ(o.status, 0) << o.err;
    const int count = static_cast<int>(std::size(lines));
    EXPECT_EQ(ResultValue(o.out, "Processed"), std::to_string(count));
    EXPECT_EQ(ResultValue(o.out, "Added"), std::to_string(rows));
    EXPECT_EQ(ResultValue(o.out, "Rejected"), std::to_string(count - rows));
    EXPECT_EQ(One(db, "SELECT count(*) FROM access"), std::to_string(rows));

    const std::vector<std::string> kept = FileLines(rejects);
    ASSERT_EQ(kept.size(), static_cast<std::size_t>(count - rows)) << Read("rejects.txt");
    std::size_t k = 0;
    for (int n = 0; n < count; ++n) {
        if (lines[n].rejected == nullptr) continue;
        SCOPED_TRACE(lines[n].text);
        const std::string want =
            lines[n].text + "\t" + log + " line " + std::to_string(n + 1) + ": ";
        ASSERT_EQ(kept[k].substr(0, want.size()), want);
        EXPECT_NE(kept[k].find(lines[n].rejected), std::string::npos) << kept[k];
        ++k;
    }
    EXPECT_EQ(Query(db, "SELECT host, path, protocol, bytes FROM access ORDER BY rowid"),
              (std::vector<std::string>{"127.0.0.1|/a.gif|HTTP/1.0|2326", "::1|/|HTTP/1.1|NULL",
                                        "2001:db8::1|NULL|NULL|NULL", "h|/q?x=\"1\"|HTTP/1.1|1",
                                        "h|/\xff\xfe|HTTP/1.1|1", "h|/last|HTTP/1.1|5"}));
    EXPECT_EQ(One(db, "SELECT agent FROM access WHERE rowid = 4"), "A \"quoted\" agent");
}

TEST_F(Logs, MaxErrorsEndsTheRunAndKeepsTheRowsBefore) {
    std::string text;
    for (int i = 0; i < 10; ++i) {
        text += i % 3 == 2 ? "garbage\n"
                           : "h - - [10/Oct/2000:13:55:36 -0700] \"GET /" + std::to_string(i) +
                                 " HTTP/1.1\" 200 1\n";
    }
    const std::string log = Write("access.log", text);
    struct Case {
        const char* limit;
        int status;
        const char* added;  // rows in the table afterwards
    } cases[] = {{"3", 0, "7"}, {"1", 1, "4"}, {"0", 1, "2"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.limit);
        const std::string db = Path(std::string("limit") + c.limit + ".db");
        Outcome o = RunQel({"import", "--format", "common", "--max-errors", c.limit, log, db});
        EXPECT_EQ(o.status, c.status) << o.err;
        EXPECT_EQ(One(db, "SELECT count(*) FROM access"), c.added);
        if (c.status != 0) {
            EXPECT_NE(o.err.find("rejected (--max-errors)"), std::string::npos) << o.err;
        }
    }
}

TEST_F(Logs, SeveralInputsInOrderAndAnExistingTable) {
    const auto line = [](int i) {
        return "h - - [10/Oct/2000:13:55:" + std::to_string(10 + i) + " +0000] \"GET /" +
               std::to_string(i) + " HTTP/1.1\" 200 " + std::to_string(i) + "\n";
    };
    Write("access.log.2", line(1) + line(2));
    Write("access.log.1", line(3));
    Write("access.log", line(4) + line(5));
    const std::string db = Path("logs.db");
    // A table of its own, with some of the format's columns under other letter case.
    {
        Outcome made = RunQel({"import", "--create", "Path TEXT, TIME DATETIME, extra TEXT",
                               "--table", "hits", "--last", "0", Path("access.log"), db});
        ASSERT_EQ(made.status, 0) << made.err;
    }
    Outcome o = RunQel({"import", "--format", "common", "--table", "hits", "--quiet",
                        Path("access.log.2"), Path("access.log.1"), Path("access.log"), db});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(ResultValue(o.out, "Processed"), "5");
    EXPECT_EQ(
        Query(db, "SELECT group_concat(Path), min(TIME), max(TIME), count(extra) FROM hits"),
        (std::vector<std::string>{"/1,/2,/3,/4,/5|2000-10-10 13:55:11|2000-10-10 13:55:15|0"}));

    // A shell pattern stands for the files it matches, in the order of their names.
    const std::string db2 = Path("pattern.db");
    o = RunQel({"import", "--format", "common", "--quiet", Path("access.log*"), db2});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(One(db2, "SELECT group_concat(path) FROM access"), "/4,/5,/3,/1,/2");
}

TEST_F(Logs, FormatMistakesAreUsageErrors) {
    const std::string log = Write("access.log", "x\n");
    struct Case {
        std::vector<std::string> args;
        const char* err;
    } cases[] = {
        {{"--format", "squid"}, "Unknown log format 'squid'"},
        {{"--format", "%h %Z"}, "Unknown log format directive %Z"},
        {{"--format", "common", "--delimiter", "comma"}, "excludes"},
        {{"--max-errors", "3"}, "--max-errors needs --format"},
        {{"--resume"}, "--resume needs --format"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args{"import"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.push_back(log);
        args.push_back(Path("x.db"));
        Outcome o = RunQel(args);
        EXPECT_EQ(o.status, 2) << c.args[0];
        EXPECT_NE(o.err.find(c.err), std::string::npos) << o.err;
    }
}

TEST_F(Logs, SniffNamesTheFormatAndPrintsACommandThatLoadsIt) {
    const std::string t = "[10/Oct/2000:13:55:36 -0700] \"GET /a HTTP/1.1\" 200 ";
    struct Case {
        const char* name;
        std::string text;
        const char* says;
        std::string query;  // on what the printed command loaded
        std::string want;
    } cases[] = {
        {"combined", "1.2.3.4 - - " + t + "12 \"-\" \"UA\"\n::1 - bob " + t + "- \"r\" \"UA\"\n",
         "Log format: combined (2 of 2 lines fit)",
         "SELECT group_concat(host || user || ifnull(bytes, 'N'), ' ') FROM access",
         "1.2.3.4-12 ::1bobN"},
        {"common", "1.2.3.4 - - " + t + "12\n# note\n5.6.7.8 - - " + t + "-\n",
         "Log format: common (2 of 2 lines fit)", "SELECT count(*), count(bytes) FROM access",
         "2|1"},
        {"vhost_combined", "example.org:443 1.2.3.4 - - " + t + "12 \"-\" \"UA\"\n",
         "Log format: vhost_combined", "SELECT vhost, port, bytes_sent FROM access",
         "example.org|443|12"},
        {"delimited with a header",
         "name,count,price,seen\n\"a, b\",3,1.5,2024-01-02\nc,4,2,2024-01-03 10:00:00\n",
         "Delimited text: delimiter comma, qualifier quot, a header line, 4 columns\n"
         "Columns: name TEXT, count INTEGER, price REAL, seen DATETIME",
         "SELECT group_concat(name, '/'), sum(count), sum(price), group_concat(seen, '/') FROM "
         "data",
         "a, b/c|7|3.5|2024-01-02 00:00:00/2024-01-03 10:00:00"},
        {"tab-separated without header", "x\t1\ny\t2\n",
         "Delimited text: delimiter tab, qualifier none, no header line, 2 columns\n"
         "Columns: field1 TEXT, field2 INTEGER",
         "SELECT group_concat(field1 || field2) FROM data", "x1,y2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = Write("sniffed.txt", c.text);
        Outcome o = RunQel({"sniff", file});
        ASSERT_EQ(o.status, 0) << o.err;
        EXPECT_NE(o.out.find(c.says), std::string::npos) << o.out;
        // The printed command, run as a shell would run it, loads the file.
        std::string command;
        for (const std::string& l : Lines(o.out)) {
            if (l.rfind("Command: qel ", 0) == 0) command = l.substr(13);
        }
        ASSERT_FALSE(command.empty()) << o.out;
        // Run where the test's files are, so that the database it names lands there.
        const std::string db = Path(command.substr(command.rfind(' ') + 1));
        fs::remove(db);
        const std::string shell = "cd " + dir_.string() + " && " + std::string(QEL_BINARY) + " " +
                                  command + " > /dev/null";
        ASSERT_EQ(std::system(shell.c_str()), 0) << shell;
        EXPECT_EQ(One(db, c.query), c.want);
    }

    // The real nginx sample: combined with the forwarded-for field, nginx's own main format.
    Outcome o = RunQel({"sniff", kSample});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find("Log format: nginx main (200 of 200 lines fit)"), std::string::npos)
        << o.out;
    EXPECT_NE(o.out.find("Format string: " + kNginxMain), std::string::npos) << o.out;
    const std::vector<std::string> lines = Lines(o.out);
    // The preview: a header, a rule and five rows, aligned.
    std::size_t header = 0;
    while (header < lines.size() && lines[header].rfind("host ", 0) != 0) ++header;
    ASSERT_LT(header + 6, lines.size()) << o.out;
    EXPECT_EQ(lines[header + 1].rfind("------------", 0), 0u);
    EXPECT_EQ(lines[header + 2].rfind("54.36.149.41 ", 0), 0u) << lines[header + 2];
    EXPECT_EQ(lines[header].find(" time ") + 1, lines[header + 2].find("2019-01-22 00:26:14"));
    EXPECT_EQ(lines[header].find(" time ") + 1, lines[header + 3].find("2019-01-22 00:26:16"));
}

}  // namespace
