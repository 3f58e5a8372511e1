// The window's import of a large access log against the same import without a window, side by
// side in interleaved rounds.
//
//   qel_bench_app [--lines=N] [--rounds=R] [--log=FILE]
//
// Both import the log (FILE, or N generated lines, default 1,000,000) into a fresh "log.db"
// with the window's settings and handlers. "window" presses Import Start on TfrmMain with the Qt
// window system (progress dialog, grid, pumping every 200 rows); "headless" runs the same
// TQelFromText set up the same way under the headless window system. A round runs both, in
// turns one first, then the other (R rounds, default 3); the end prints every round, the
// medians of elapsed and CPU time, and their ratios.
#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "AccessLogGenerator.h"
#include "app/Main.h"
#include "dataset/SqliteTable.h"
#include "text/Qel2TXT.h"
#include "ui/QtWindowSystem.h"

namespace qel {
namespace {

std::string g_dir;  // program directory with its trailing separator

// Message boxes are recorded instead of shown (the window's last one reports the elapsed time).
class TQuietWindowSystem : public TQtWindowSystem {
  public:
    std::string lastBox;

  protected:
    void ShowBox(TBoxKind, const std::string&, const std::string& text) override { lastBox = text; }
};

void FreshTable() {
    std::remove((g_dir + "log.db").c_str());
    TSqliteTable::CreateTable(g_dir + "log.db", "log",
                              {{"Host", ftString},
                               {"DateTime", ftString},
                               {"URL", ftString},
                               {"Code", ftInteger},
                               {"Size", ftInteger},
                               {"Ref", ftString}});
}

// One import: elapsed and CPU seconds, and what it loaded.
struct TTimes {
    double elapsed = 0, cpu = 0;
    std::int64_t added = 0, errors = 0;
    std::string report;  // the window's elapsed-time message
};

class TClock {
  public:
    TClock() : wall_(std::chrono::steady_clock::now()), cpu_(std::clock()) {}
    void Stop(TTimes& t) const {
        t.elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_).count();
        t.cpu = static_cast<double>(std::clock() - cpu_) / CLOCKS_PER_SEC;
    }

  private:
    std::chrono::steady_clock::time_point wall_;
    std::clock_t cpu_;
};

TTimes Window() {
    TQuietWindowSystem ws;
    const TScopedWindowSystem installed(ws);
    TTimes t;
    FreshTable();
    {
        TfrmMain form(g_dir);
        form.show();
        QApplication::processEvents();
        const TClock clock;
        form.btnImport->click();
        clock.Stop(t);
        t.added = form.QelFromText1.Statistic().TotalAdded();
        t.errors = form.QelFromText1.Statistic().TotalErrors();
        t.report = ws.lastBox;
    }
    return t;
}

TTimes Headless() {
    THeadlessWindowSystem ws;
    const TScopedWindowSystem installed(ws);
    TTimes t;
    FreshTable();
    {
        TSqliteTable table;
        table.SetDatabaseName(g_dir);
        table.SetTableName("log.db");
        table.Open();
        TQelFromText q;
        q.SetDataSet(&table);
        TQelDataFormats& f = q.DataFormats();
        f.SetDateSeparator('/');
        f.SetThousandSeparator(static_cast<char>(160));
        f.SetDecimalSeparator(',');
        f.SetUseRegionalSettings(false);
        // As the window's handler: an empty integer is 0, a "-" no value.
        q.OnGetCellParams = [](TQelBaseComponent&, TField* field, Variant& v) {
            if (!field || field->DataType() != ftInteger || !v.IsText()) return;
            if (v.TextValue().empty())
                v = Variant(std::int32_t{0});
            else if (v.TextValue() == "-")
                v = Variant::Null();
        };
        q.OnAfterRecordEvent = [&table](TQelBaseComponent& s, bool&) {
            if (s.Statistic().TotalImported() / 200 == 1) table.FlushBuffers();
        };
        q.SetOptions(q.Options().Exclude(soUseAnimatedControl));
        q.Statistic().SetUpdateStep(200);
        for (const char* line : {"Host=Field1", "DateTime=Field4", "URL=Field6", "Code=Field7",
                                 "Size=Field8", "Ref=Field9"})
            q.Mappings().Add(line);
        q.SetSourceFileName(g_dir + "log.txt");
        q.SetFieldDelimiterCustom(' ');
        q.SetTextQualifier(tqQuot);
        q.SetRecordSeparator(rsLF);
        const TClock clock;
        q.Execute();
        clock.Stop(t);
        t.added = q.Statistic().TotalAdded();
        t.errors = q.Statistic().TotalErrors();
        table.Close();
    }
    return t;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[(v.size() - 1) / 2];
}

}  // namespace
}  // namespace qel

int main(int argc, char** argv) {
    qel::TSqliteTable::ConfigureProcess();  // before SQLite is used, as in the programs
    long lines = 1'000'000;
    int rounds = 3;
    std::string log;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--lines=", 8) == 0) lines = std::atol(argv[i] + 8);
        if (std::strncmp(argv[i], "--rounds=", 9) == 0)
            rounds = std::max(1, std::atoi(argv[i] + 9));
        if (std::strncmp(argv[i], "--log=", 6) == 0) log = argv[i] + 6;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setFont(qel::FormFont());
    QTemporaryDir dir;
    qel::g_dir = dir.path().toStdString() + "/";
    if (!log.empty()) {
        std::error_code ec;
        std::filesystem::create_symlink(std::filesystem::absolute(log), qel::g_dir + "log.txt", ec);
        if (ec) {
            std::fprintf(stderr, "cannot use %s: %s\n", log.c_str(), ec.message().c_str());
            return 2;
        }
    } else {
        std::ofstream out(qel::g_dir + "log.txt", std::ios::binary);
        qel::AccessLogGenerator gen(7);
        std::string chunk;
        for (long i = 0; i < lines; ++i) {
            gen.AppendLine(chunk);
            if (chunk.size() > (1u << 20)) out << chunk, chunk.clear();
        }
        out << chunk;
        log = std::to_string(lines) + " generated lines";
    }
    std::printf("log.txt: %s, platform %s, %d rounds\n\n", log.c_str(),
                qPrintable(QApplication::platformName()), rounds);
    std::printf("%-6s %-9s %10s %10s %10s %8s  %s\n", "round", "run", "elapsed s", "CPU s", "added",
                "errors", "window's report");

    std::vector<double> elapsed[2], cpu[2];  // [0] headless, [1] window
    std::int64_t added[2] = {-1, -1};
    for (int r = 0; r < rounds; ++r) {
        for (int k = 0; k < 2; ++k) {
            const int which = (r + k) % 2;  // turns: headless first in even rounds
            const qel::TTimes t = which ? qel::Window() : qel::Headless();
            std::string report = t.report;
            for (char& c : report) c = (c == '\r' || c == '\n') ? ' ' : c;
            std::printf("%-6d %-9s %10.2f %10.2f %10lld %8lld  %s\n", r + 1,
                        which ? "window" : "headless", t.elapsed, t.cpu,
                        static_cast<long long>(t.added), static_cast<long long>(t.errors),
                        report.c_str());
            std::fflush(stdout);
            if (added[which] >= 0 && added[which] != t.added) {
                std::fprintf(stderr, "the %s runs added different row counts\n",
                             which ? "window" : "headless");
                return 1;
            }
            added[which] = t.added;
            elapsed[which].push_back(t.elapsed);
            cpu[which].push_back(t.cpu);
        }
    }
    if (added[0] != added[1]) {
        std::fprintf(stderr, "window and headless added different row counts\n");
        return 1;
    }
    const double h = qel::Median(elapsed[0]), w = qel::Median(elapsed[1]);
    const double hc = qel::Median(cpu[0]), wc = qel::Median(cpu[1]);
    std::printf(
        "\nmedians                 elapsed s    CPU s\n"
        "import without window: %9.2f %8.2f\n"
        "import with window:    %9.2f %8.2f\n"
        "window / headless:     %9.3f %8.3f\n",
        h, hc, w, wc, h > 0 ? w / h : 0.0, hc > 0 ? wc / hc : 0.0);
    return 0;
}
