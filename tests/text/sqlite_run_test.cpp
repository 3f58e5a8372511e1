// A whole run of the text source from an access-log file into an SQLite table, as the log
// loader does it: string fields, the six mapped fields of each line.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "dataset/SqliteTable.h"
#include "text/Qel2TXT.h"

namespace qel {
namespace {

TEST(FromTextIntoSqlite, AccessLogLoadsEveryLine) {
    char tmpl[] = "/tmp/qel_sqlite_run_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::filesystem::path dir = tmpl;

    // 1,000 lines; every seventh has an empty size field, every 250th is followed by a blank
    // line, and the file ends without a line feed.
    const int kLines = 1000;
    std::string log;
    for (int i = 1; i <= kLines; ++i) {
        log += "10.0.0." + std::to_string(i % 256) +
               " - - [10/Oct/2000:13:55:" + std::to_string(10 + i % 50) + " -0700] \"GET /page/" +
               std::to_string(i) + ".html HTTP/1.0\" 200 " +
               (i % 7 == 0 ? std::string("\"\"") : std::to_string(i * 3)) +
               " \"http://example.com/ref " + std::to_string(i) + "\" \"Agent/1.0 (X11)\"";
        if (i < kLines) log += i % 250 == 0 ? "\n\n" : "\n";
    }
    const std::string logFile = (dir / "log.txt").string();
    std::ofstream(logFile, std::ios::binary) << log;

    TSqliteTable::CreateTable((dir / "log.db").string(), "log",
                              {{"Host", ftString, 40},
                               {"DateTime", ftString, 40},
                               {"URL", ftString, 100},
                               {"Code", ftString, 10},
                               {"Size", ftString, 10},
                               {"Ref", ftString, 100}});
    {
        TSqliteTable table;
        table.SetDatabaseName(dir.string());
        table.SetTableName("log.db");
        table.Open();

        TQelFromText qel;
        qel.SetDataSet(&table);
        qel.SetOptions(qel.Options().Exclude(soUseAnimatedControl));
        qel.Statistic().SetUpdateStep(200);
        for (const char* m : {"Host=Field1", "DateTime=Field4", "URL=Field6", "Code=Field7",
                              "Size=Field8", "Ref=Field9"}) {
            qel.Mappings().Add(m);
        }
        qel.SetSourceFileName(logFile);
        qel.SetFieldDelimiterCustom(' ');
        qel.SetTextQualifier(tqQuot);
        qel.SetRecordSeparator(rsLF);
        qel.Execute();
        EXPECT_EQ(qel.Statistic().Result(), irExecuted);
        EXPECT_EQ(qel.Statistic().TotalAdded(), kLines);
        EXPECT_EQ(qel.Statistic().TotalErrors(), 0);
        table.Close();
    }

    // What another connection finds in the file.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2((dir / "log.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
              SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(
        sqlite3_prepare_v2(db,
                           "SELECT count(*), sum(Size IS NULL), "
                           "(SELECT Host||'|'||DateTime||'|'||URL||'|'||Code||'|'||Size||'|'||Ref"
                           " FROM log WHERE URL = 'GET /page/1000.html HTTP/1.0') FROM log",
                           -1, &st, nullptr),
        SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), kLines);
    EXPECT_EQ(sqlite3_column_int(st, 1), kLines / 7);  // an empty field arrives as null
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 2)),
                 "10.0.0.232|[10/Oct/2000:13:55:10|GET /page/1000.html HTTP/1.0|200|3000|"
                 "http://example.com/ref 1000");
    sqlite3_finalize(st);
    sqlite3_close(db);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qel
