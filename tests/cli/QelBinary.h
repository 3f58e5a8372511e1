// Running the real `qel` binary from a test: its exit status and what it printed, and a
// fixture with a temporary folder and SQLite queries on the files made there.
#pragma once

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

namespace qeltest {

namespace fs = std::filesystem;

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Where the child's three standard streams come from or go to.
struct Wiring {
    std::string stdinFile;  // empty: /dev/null
    int stderrFd = -1;      // -1: captured through a pipe
};

[[noreturn]] inline void ExecQel(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(QEL_BINARY));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(QEL_BINARY, argv.data());
    _exit(127);
}

inline void OpenStdin(const std::string& file) {
    int fd = open(file.empty() ? "/dev/null" : file.c_str(), O_RDONLY);
    if (fd < 0) _exit(126);
    dup2(fd, 0);
    close(fd);
}

inline int StatusOf(int raw) {
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
}

// Runs qel to its end, collecting standard output and standard error.
inline Outcome RunQel(const std::vector<std::string>& args, const Wiring& wiring = {}) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) throw std::runtime_error("pipe");
    pid_t pid = fork();
    if (pid == 0) {
        OpenStdin(wiring.stdinFile);
        dup2(out[1], 1);
        dup2(wiring.stderrFd >= 0 ? wiring.stderrFd : err[1], 2);
        close(out[0]);
        close(out[1]);
        close(err[0]);
        close(err[1]);
        ExecQel(args);
    }
    close(out[1]);
    close(err[1]);
    Outcome o;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&o.out, &o.err};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int raw = 0;
    waitpid(pid, &raw, 0);
    o.status = StatusOf(raw);
    return o;
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The value of "Name: value" in the result lines.
inline std::string ResultValue(const std::string& out, const std::string& name) {
    for (const std::string& line : Lines(out)) {
        if (line.rfind(name + ": ", 0) == 0) return line.substr(name.size() + 2);
    }
    return "<missing " + name + ">";
}

class QelFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("qel_cli_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    std::string Write(const std::string& name, const std::string& text) const {
        std::ofstream(dir_ / name, std::ios::binary) << text;
        return Path(name);
    }
    std::string Read(const std::string& name) const {
        std::ifstream in(dir_ / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    // Rows of a query, each a "|"-joined line of column texts ("NULL" for null).
    std::vector<std::string> Query(const std::string& db, const std::string& sql) const {
        sqlite3* h = nullptr;
        EXPECT_EQ(sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        std::vector<std::string> rows;
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(h, sql.c_str(), -1, &s, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(h);
        } else {
            while (sqlite3_step(s) == SQLITE_ROW) {
                std::string row;
                for (int i = 0; i < sqlite3_column_count(s); ++i) {
                    if (i) row += '|';
                    const auto* t = sqlite3_column_text(s, i);
                    row += t ? reinterpret_cast<const char*>(t) : "NULL";
                }
                rows.push_back(row);
            }
        }
        sqlite3_finalize(s);
        sqlite3_close(h);
        return rows;
    }
    std::string One(const std::string& db, const std::string& sql) const {
        auto rows = Query(db, sql);
        return rows.size() == 1 ? rows[0] : "<" + std::to_string(rows.size()) + " rows>";
    }

    fs::path dir_;
};

}  // namespace qeltest
