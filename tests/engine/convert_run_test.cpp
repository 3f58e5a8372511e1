// Whole runs from real text files into an SQLite table with typed fields, checked through the
// sqlite3 shell: what the conversion makes of each column, and rows the fields refuse.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "core/FormatSettings.h"
#include "dataset/SqliteTable.h"
#include "engine/WindowSystem.h"
#include "text/Qel2TXT.h"

namespace qel {
namespace {

namespace fs = std::filesystem;

constexpr const char* kShell = "/usr/bin/sqlite3";

// Rows of a query as the sqlite3 shell prints them ("|" between columns, NULL for null).
std::vector<std::string> Query(const fs::path& db, const std::string& sql) {
    const std::string cmd = std::string(kShell) +
                            " -batch -noheader -nullvalue NULL -separator '|' '" + db.string() +
                            "' \"" + sql + "\" 2>&1";
    std::vector<std::string> rows;
    FILE* p = ::popen(cmd.c_str(), "r");
    if (p == nullptr) return rows;
    std::array<char, 4096> buf{};
    std::string line;
    while (std::fgets(buf.data(), static_cast<int>(buf.size()), p) != nullptr) {
        line += buf.data();
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
            rows.push_back(line);
            line.clear();
        }
    }
    if (!line.empty()) rows.push_back(line);
    ::pclose(p);
    return rows;
}

const std::vector<TFieldDef> kFields = {
    {"Id", ftInteger, 0, false},   {"Price", ftFloat, 0, false},    {"Day", ftDate, 0, false},
    {"At", ftTime, 0, false},      {"Stamp", ftDateTime, 0, false}, {"Ok", ftBoolean, 0, false},
    {"Name", ftString, 40, false},
};

constexpr const char* kSelect =
    "SELECT Id, typeof(Id), Price, typeof(Price), Day, At, Stamp, Ok, typeof(Ok), Name "
    "FROM typed ORDER BY rowid";

class TypedRun : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::access(kShell, X_OK) != 0) GTEST_SKIP() << "no sqlite3 shell";
        installed_.emplace(ws_);
        char tmpl[] = "/tmp/qel_convert_run_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        TSqliteTable::CreateTable((dir_ / "typed.db").string(), "typed", kFields);
        table_.SetDatabaseName(dir_.string());
        table_.SetTableName("typed.db");
        table_.Open();

        qel_.SetDataSet(&table_);
        qel_.SetAnimatedStatus(false);
        qel_.SetOptions(qel_.Options().Exclude(soShowMessage));
        qel_.SetRecordSeparator(rsLF);
        qel_.SetTrimSpaces(tsTrimLeftRight);
        TQelDataFormats& f = qel_.DataFormats();
        f.SetUseRegionalSettings(false);
        f.SetDateOrder(doDMY);
        f.SetDateSeparator('.');
        f.SetTimeSeparator(':');
        f.SetFourDigitYear(true);
        f.SetDecimalSeparator(',');
        f.SetThousandSeparator('.');
        f.SetCurrencyString("EUR");
        f.SetBooleanTrue("ja");
        f.SetBooleanFalse("nein");
    }
    void TearDown() override {
        if (table_.Active()) table_.Close();
        installed_.reset();
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    void Run(const std::string& text) {
        const fs::path file = dir_ / "source.txt";
        std::ofstream(file, std::ios::binary) << text;
        qel_.SetSourceFileName(file.string());
        qel_.Execute();
        table_.Close();
    }

    ScopedFormatSettings english_{FormatSettings::English()};
    THeadlessWindowSystem ws_;
    std::optional<TScopedWindowSystem> installed_;
    fs::path dir_;
    TSqliteTable table_;
    TQelFromText qel_;
};

TEST_F(TypedRun, DelimitedFile) {
    for (const char* m : {"Id=Field1", "Price=Field2", "Day=Field3", "At=Field4", "Stamp=Field5",
                          "Ok=Field6", "Name=Field7"}) {
        qel_.Mappings().Add(m);
    }
    qel_.SetFieldDelimiter(fdSemicolon);
    qel_.SetRowFirst(2);  // the first line holds the column names
    Run("Id;Price;Day;At;Stamp;Ok;Name\n"
        "1;\"1.234,50EUR\";25.12.2003;10:15:42;25.12.2003 10:15:42;ja;Alpha\n"
        "2;0,5;1.2.2004;23:59;29.02.2004 00:00:01;N;\"Beta; Gamma\"\n"
        " 3 ; -7 ;  31.01.2001 ; 07:05:09 ;31.01.2001 07:05:09; 1 ;  padded  \n"
        "4;12abc;01.01.2001;00:00:00;01.01.2001 00:00:00;Y;bad price\n"
        "5x;1;01.01.2001;00:00:00;01.01.2001 00:00:00;Y;bad id\n"
        "6;1;31.04.2003;00:00:00;01.01.2001 00:00:00;Y;bad day\n"
        "7;1;01.01.2001;00:00:00;01.01.2001 00:00:00;vielleicht;bad flag\n"
        "8;;;;;;\n"
        "id;PRICE;day;at;stamp;nein;names as data\n");

    EXPECT_EQ(qel_.Statistic().Result(), irExecuted);
    EXPECT_EQ(qel_.Statistic().TotalImported(), 9);
    EXPECT_EQ(qel_.Statistic().TotalAdded(), 5);
    EXPECT_EQ(qel_.Statistic().TotalErrors(), 4);
    EXPECT_EQ(
        Query(dir_ / "typed.db", kSelect),
        (std::vector<std::string>{
            "1|integer|1234.5|real|2003-12-25|10:15:42|2003-12-25 10:15:42|1|integer|Alpha",
            "2|integer|0.5|real|2004-02-01|23:59:00|2004-02-29 00:00:01|0|integer|Beta; Gamma",
            "3|integer|-7.0|real|2001-01-31|07:05:09|2001-01-31 07:05:09|1|integer|padded",
            "8|integer|NULL|null|NULL|NULL|NULL|NULL|null|NULL",
            "0|integer|0.0|real|1899-12-30|00:00:00|1899-12-30 00:00:00|0|integer|names as data",
        }));
}

// One fixed-width line: each value right-aligned in its column.
std::string FixedLine(const std::vector<std::string>& values) {
    static const int kWidths[] = {4, 10, 10, 8, 19, 1, 28};
    std::string line;
    for (std::size_t i = 0; i < values.size(); ++i) {
        line +=
            std::string(static_cast<std::size_t>(kWidths[i]) - values[i].size(), ' ') + values[i];
    }
    return line + "\n";
}

TEST_F(TypedRun, FixedWidthFile) {
    // Columns: Id 1-4, Price 5-14, Day 15-24, At 25-32, Stamp 33-51, Ok 52, Name 53-80.
    for (const char* m : {"Id=Text1-4", "Price=Text5-14", "Day=Text15-24", "At=Text25-32",
                          "Stamp=Text33-51", "Ok=Text52-52", "Name=Text53-80"}) {
        qel_.Mappings().Add(m);
    }
    qel_.SetFixed(true);
    Run(FixedLine(
            {"11", "1.000,5", "25.12.2003", "10:15:42", "25.12.2003 10:15:42", "Y", "Alpha"}) +
        FixedLine({"12", "-0,5", "01.02.2004", "23:59:59", "29.02.2004 00:00:01", "F", "Beta"}) +
        FixedLine(
            {"13", "abc", "01.02.2004", "23:59:59", "29.02.2004 00:00:01", "F", "bad price"}) +
        FixedLine({"1x", "1", "01.02.2004", "23:59:59", "29.02.2004 00:00:01", "F", "bad id"}) +
        FixedLine({"14", "1", "01.02.2004", "23:59:59", "29.02.2004 00:00:01", "?", "bad flag"}));

    EXPECT_EQ(qel_.Statistic().Result(), irExecuted);
    EXPECT_EQ(qel_.Statistic().TotalImported(), 5);
    EXPECT_EQ(qel_.Statistic().TotalAdded(), 2);
    EXPECT_EQ(qel_.Statistic().TotalErrors(), 3);
    EXPECT_EQ(Query(dir_ / "typed.db", kSelect),
              (std::vector<std::string>{
                  "11|integer|1000.5|real|2003-12-25|10:15:42|2003-12-25 10:15:42|1|integer|Alpha",
                  "12|integer|-0.5|real|2004-02-01|23:59:59|2004-02-29 00:00:01|0|integer|Beta",
              }));
}

}  // namespace
}  // namespace qel
