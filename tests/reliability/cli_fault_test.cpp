// The `qel` binary on the worst day: killed in the middle of a run, and fed hostile input with
// a rejects file. After a kill the database opens, passes its integrity check and holds the
// first rows of the source; after a hostile run every row read is in the table or rejected.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "ReliabilityKit.h"

extern char** environ;

namespace qel::rel {
namespace {

// Starts qel with its output and errors going to files; returns its process id.
pid_t StartQel(const std::vector<std::string>& args, const std::string& outFile,
               const std::string& errFile) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<std::string> all{QEL_BINARY};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, QEL_BINARY, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) throw std::runtime_error("cannot start qel");
    return pid;
}

std::string ReadFile(const std::string& fileName) {
    std::ifstream in(fileName, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The value of "Name: value" in qel's result lines.
int ResultNumber(const std::string& out, const std::string& name) {
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(name + ": ", 0) == 0) return std::stoi(line.substr(name.size() + 2));
    }
    throw std::runtime_error("no " + name + " in: " + out);
}

const std::vector<std::string> kNumberedArgs{
    "--delimiter", ",",     "--record-separator", "lf",    "--header",   "0", "--quiet", "--map",
    "Id=Field1",   "--map", "Name=Field2",        "--map", "Note=Field3"};

// ---------------------------------------------------------------------------------------------

enum class KillWhen { WritingStarted, AfterACommit };

struct KillCase {
    const char* name;
    KillWhen when;
};
void PrintTo(const KillCase& c, std::ostream* os) {
    *os << c.name;
}

class KilledRun : public ::testing::TestWithParam<KillCase> {};

TEST_P(KilledRun, DatabaseOpensIntactWithAPrefixOfTheRows) {
    const KillCase& c = GetParam();
    const int kLines = 200000;
    TempDir dir;
    const std::string src = dir.File("log.txt"), db = dir.File("log.db");
    WriteFile(src, NumberedText(kLines));
    CreateNumberedTable(db);

    std::vector<std::string> args{"import"};
    args.insert(args.end(), kNumberedArgs.begin(), kNumberedArgs.end());
    args.insert(args.end(), {src, db});
    pid_t pid = StartQel(args, dir.File("out.txt"), dir.File("err.txt"));

    // Wait for the moment, without holding any lock for long, then kill outright.
    bool reached = false;
    for (int i = 0; i < 60000 && !reached; ++i) {
        if (c.when == KillWhen::WritingStarted) {
            reached =
                std::filesystem::exists(db + "-journal") || std::filesystem::exists(db + "-wal");
        } else {
            sqlite3* h = nullptr;
            if (sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
                sqlite3_stmt* s = nullptr;
                if (sqlite3_prepare_v2(h, "SELECT count(*) FROM log", -1, &s, nullptr) ==
                        SQLITE_OK &&
                    sqlite3_step(s) == SQLITE_ROW) {
                    reached = sqlite3_column_int64(s, 0) > 0;
                }
                sqlite3_finalize(s);
            }
            sqlite3_close(h);
        }
        int raw = 0;
        if (!reached && ::waitpid(pid, &raw, WNOHANG) == pid) {
            FAIL() << "qel ended before it could be killed: " << ReadFile(dir.File("err.txt"));
        }
        if (!reached) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(reached);
    ::kill(pid, SIGKILL);
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    ASSERT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == SIGKILL) << "qel ended on its own first";

    // A plain connection opens the file (rolling back a hot journal) and finds it sound.
    {
        sqlite3* h = nullptr;
        ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
        sqlite3_stmt* s = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(h, "PRAGMA integrity_check", -1, &s, nullptr), SQLITE_OK);
        ASSERT_EQ(sqlite3_step(s), SQLITE_ROW);
        EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)), "ok");
        sqlite3_finalize(s);
        sqlite3_close(h);
    }
    SqliteReader reader(db);
    const std::vector<StoredRow> rows = reader.Rows();
    RecordProperty("StoredRows", static_cast<int>(rows.size()));
    EXPECT_LT(static_cast<int>(rows.size()), kLines) << "the run was not cut short";
    if (c.when == KillWhen::AfterACommit) {
        EXPECT_GE(rows.size(), TSqliteTable::kMaxPendingWrites);
    }
    ExpectNumberedRows(rows, Numbers(1, static_cast<int>(rows.size())));

    // The table takes a new run afterwards: the next thousand rows.
    args = {"import", "--first", std::to_string(rows.size() + 1), "--last",
            std::to_string(rows.size() + 1000)};
    args.insert(args.end(), kNumberedArgs.begin(), kNumberedArgs.end());
    args.insert(args.end(), {src, db});
    pid = StartQel(args, dir.File("out.txt"), dir.File("err.txt"));
    ::waitpid(pid, &raw, 0);
    ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << ReadFile(dir.File("err.txt"));
    EXPECT_EQ(reader.Count(), static_cast<long long>(rows.size()) + 1000);
    ExpectNumberedRows(reader.Rows(), Numbers(1, static_cast<int>(rows.size()) + 1000));
}

INSTANTIATE_TEST_SUITE_P(Reliability, KilledRun,
                         ::testing::Values(KillCase{"WhileTheFirstTransactionIsOpen",
                                                    KillWhen::WritingStarted},
                                           KillCase{"AfterACommit", KillWhen::AfterACommit}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Hostile sources through qel with a rejects file: every row read is stored or rejected.

struct RejectCase {
    const char* name;
    std::function<std::string()> text;
    std::vector<std::string> maps;
};
void PrintTo(const RejectCase& c, std::ostream* os) {
    *os << c.name;
}

class RejectedRows : public ::testing::TestWithParam<RejectCase> {};

// Garbage without quotes and tabs (so each record is one line of the rejects file).
std::string LineGarbage(std::size_t size, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        char ch = static_cast<char>(gen() & 0xFF);
        if (ch == '"' || ch == '\t' || ch == '\r') ch = 'q';
        s[i] = i % 23 == 22 ? '\n' : ch;
    }
    return s;
}

TEST_P(RejectedRows, EveryRowIsInTheTableOrInTheRejectsFile) {
    const RejectCase& c = GetParam();
    TempDir dir;
    const std::string src = dir.File("in.txt"), db = dir.File("t.db"),
                      rejects = dir.File("rejects.txt");
    WriteFile(src, c.text());
    std::vector<std::string> args{
        "import",      "--create",  "N INTEGER, R REAL, D DATETIME, T TEXT",
        "--delimiter", ",",         "--record-separator",
        "lf",          "--header",  "0",
        "--quiet",     "--rejects", rejects};
    for (const std::string& m : c.maps) args.insert(args.end(), {"--map", m});
    args.insert(args.end(), {src, db});
    pid_t pid = StartQel(args, dir.File("out.txt"), dir.File("err.txt"));
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    const std::string out = ReadFile(dir.File("out.txt")), err = ReadFile(dir.File("err.txt"));
    ASSERT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << out << err;

    const int processed = ResultNumber(out, "Processed");
    const int added = ResultNumber(out, "Added");
    int rejected = 0;
    for (char ch : ReadFile(rejects)) rejected += ch == '\n';
    EXPECT_GT(processed, 0);
    EXPECT_EQ(added + rejected, processed) << err;
    SqliteReader reader(db);
    EXPECT_EQ(reader.IntegrityCheck(), "ok");
    EXPECT_EQ(reader.Count("t"), added);
}

INSTANTIATE_TEST_SUITE_P(
    Reliability, RejectedRows,
    ::testing::Values(RejectCase{"GarbageIntoTypedFields",
                                 [] { return LineGarbage(64 * 1024, 7); },
                                 {"N=Field1", "R=Field2", "D=Field3", "T=Field4"}},
                      RejectCase{
                          "GarbageThroughExpressions",
                          [] { return LineGarbage(64 * 1024, 8); },
                          {"N=Field1 * 2", "R=STRTOFLOAT(Field2)", "T=UPPER(Field3) + Field4"}},
                      RejectCase{"SomeRowsFailToConvert",
                                 [] {
                                     std::string s;
                                     for (int n = 1; n <= 500; ++n) {
                                         s += (n % 7 == 0 ? "x" : "") + std::to_string(n) + "," +
                                              std::to_string(n) + ".5," +
                                              (n % 5 == 0 ? "31/02/2003" : "01/02/2003") + ",t\n";
                                     }
                                     return s;
                                 },
                                 {"N=Field1", "R=Field2", "D=Field3", "T=Field4"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qel::rel
