// The floor for loading an access log into SQLite: one read of the file, a hand-written split of
// each line at spaces with double quotes grouping a field, and one prepared INSERT of the six
// log fields in one transaction. No expressions, no events, no conversion rules.
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

void Check(int rc, sqlite3* db, const char* what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
        std::exit(1);
    }
}

// Splits at single spaces; a field that starts with a quote runs to the next quote followed by
// a space (or the line's end), and loses its quotes.
void Split(std::string_view line, std::vector<std::string_view>& out) {
    out.clear();
    std::size_t i = 0, n = line.size();
    while (i <= n) {
        if (i < n && line[i] == '"') {
            std::size_t j = i + 1;
            while (j < n && !(line[j] == '"' && (j + 1 == n || line[j + 1] == ' '))) ++j;
            out.push_back(line.substr(i + 1, j - i - 1));
            i = j + 2;
        } else {
            std::size_t j = line.find(' ', i);
            if (j == std::string_view::npos) j = n;
            out.push_back(line.substr(i, j - i));
            i = j + 1;
        }
        if (i > n) break;
    }
}

bool ToInt(std::string_view s, long long& v) {
    if (s.empty()) return false;
    v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: qel_bare_loop LOGFILE DATABASE\n");
        return 2;
    }
    std::string text;
    if (FILE* in = std::fopen(argv[1], "rb")) {
        std::fseek(in, 0, SEEK_END);
        text.resize(static_cast<std::size_t>(std::ftell(in)));
        std::fseek(in, 0, SEEK_SET);
        text.resize(std::fread(text.data(), 1, text.size(), in));
        std::fclose(in);
    } else {
        std::fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    // The connection settings qel's table uses: no memory statistics, no connection mutex.
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    sqlite3* db = nullptr;
    Check(sqlite3_open_v2(argv[2], &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr), db,
          "open");
    sqlite3_stmt* ins = nullptr;
    Check(sqlite3_prepare_v2(db,
                             "INSERT INTO log (Host, DateTime, URL, Code, Size, Ref) "
                             "VALUES (?, ?, ?, ?, ?, ?)",
                             -1, &ins, nullptr),
          db, "prepare");
    Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db, "begin");
    std::vector<std::string_view> f;
    std::string_view all(text);
    long long rows = 0;
    for (std::size_t pos = 0; pos < all.size();) {
        std::size_t end = all.find('\n', pos);
        if (end == std::string_view::npos) end = all.size();
        std::string_view line = all.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty()) continue;
        Split(line, f);
        auto field = [&](std::size_t k) { return k < f.size() ? f[k] : std::string_view(); };
        auto bindText = [&](int col, std::string_view s) {
            if (s.empty())
                sqlite3_bind_null(ins, col);
            else
                sqlite3_bind_text(ins, col, s.data(), static_cast<int>(s.size()), SQLITE_STATIC);
        };
        auto bindInt = [&](int col, std::string_view s) {
            long long v;
            if (ToInt(s, v))
                sqlite3_bind_int64(ins, col, v);
            else
                sqlite3_bind_null(ins, col);
        };
        bindText(1, field(0));
        bindText(2, field(3));
        bindText(3, field(5));
        bindInt(4, field(6));
        bindInt(5, field(7));
        bindText(6, field(8));
        Check(sqlite3_step(ins), db, "insert");
        sqlite3_reset(ins);
        ++rows;
    }
    Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
    sqlite3_finalize(ins);
    sqlite3_close(db);
    std::printf("rows %lld\n", rows);
    return 0;
}
