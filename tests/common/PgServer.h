// PostgreSQL servers for tests, started by scripts/pg-test-server.sh on 127.0.0.1.
//
// Shared() is the server of the whole test run: the one ctest's fixture started (its state file
// is QEL_PG_STATE), or, when a test program runs on its own, one started for the process and
// stopped when it exits. A TPgServer object is a server of its own, for tests that stop it.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>

#include "TempDir.h"

namespace qel::test {

class TPgServer {
  public:
    // Starts a new server with the given extra settings ("-c name=value ...").
    explicit TPgServer(const std::string& settings = "-c fsync=off") : state_(dir_.File("state")) {
        Script("start", settings);
        ReadState();
    }
    ~TPgServer() {
        if (owned_) std::system(Command("stop", "").c_str());
    }
    TPgServer(const TPgServer&) = delete;
    TPgServer& operator=(const TPgServer&) = delete;

    // The libpq connection string (a keyword list).
    const std::string& ConnInfo() const { return conninfo_; }
    // The same as a URI.
    std::string Uri() const {
        std::string port = conninfo_.substr(conninfo_.find("port=") + 5);
        port = port.substr(0, port.find(' '));
        return "postgresql://qel@127.0.0.1:" + port + "/postgres";
    }
    // Stops the server at once, as a crash would, and starts it again.
    void Halt() { Script("halt", ""); }
    void Resume() { Script("resume", ""); }

    static const std::string& Shared() {
        static const std::string conninfo = [] {
            std::ifstream in(QEL_PG_STATE);
            std::string line;
            if (in && std::getline(in, line) && !line.empty()) return line;
            static TPgServer own;  // no fixture: a server for this process
            return own.ConnInfo();
        }();
        return conninfo;
    }

    // A table name no other test process uses at the same time.
    static std::string UniqueName(const std::string& prefix) {
        static int made = 0;
        const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
        return prefix + "_" + std::to_string(::getpid()) + "_" + std::to_string(now % 1000000007) +
               "_" + std::to_string(made++);
    }

  private:
    std::string Command(const char* action, const std::string& settings) const {
        return std::string("'") + QEL_PG_SCRIPT + "' " + action + " '" + state_ + "' " + settings +
               " >/dev/null 2>'" + dir_.File("script.err") + "'";
    }
    void Script(const char* action, const std::string& settings) {
        if (std::system(Command(action, settings).c_str()) != 0) {
            std::ifstream err(dir_.File("script.err"));
            std::string text((std::istreambuf_iterator<char>(err)),
                             std::istreambuf_iterator<char>());
            throw std::runtime_error(std::string("pg-test-server.sh ") + action +
                                     " failed: " + text);
        }
        owned_ = true;
    }
    void ReadState() {
        std::ifstream in(state_);
        std::getline(in, conninfo_);
    }

    TempDir dir_;
    std::string state_;
    std::string conninfo_;
    bool owned_ = false;
};

}  // namespace qel::test
