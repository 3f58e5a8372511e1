// Whole runs into the SQLite table: modes, posting errors from the table engine, and records
// that are stored for good once Execute has returned.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

#include "EngineTestKit.h"
#include "dataset/SqliteTable.h"

namespace qel::test {
namespace {

using Lines = std::vector<std::string>;

class SqliteRunTest : public HeadlessTest {
  protected:
    void SetUp() override {
        HeadlessTest::SetUp();
        static std::atomic<int> counter{0};
        dir = std::filesystem::temp_directory_path() /
              ("qel_engine_" + std::to_string(::getpid()) + "_" + std::to_string(counter++));
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        TSqliteTable::CreateTable((dir / "log.db").string(), "log",
                                  {{"ID", ftInteger, 0, true}, {"NAME", ftString, 20, false}});
        table = Open();
        comp.SetDataSet(table.get());
        comp.Mappings().SetText("ID=Field1\nName=Field2\n");
    }
    void TearDown() override {
        comp.SetDataSet(nullptr);
        table.reset();
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        HeadlessTest::TearDown();
    }
    std::unique_ptr<TSqliteTable> Open() {
        auto t = std::make_unique<TSqliteTable>();
        t->SetDatabaseName(dir.string());
        t->SetTableName("log.db");
        t->Open();
        return t;
    }

    std::filesystem::path dir;
    std::unique_ptr<TSqliteTable> table;
    TMemorySource comp;
};

TEST_F(SqliteRunTest, RunsAreStoredOnceExecuteReturns) {
    comp.records = {{"1", "a"}, {"2", "b"}, {"", "no id"}, {"3", "c"}};
    comp.Statistic().SetUpdateStep(2);
    comp.Execute();
    EXPECT_EQ(comp.Statistic().Result(), irExecuted);
    EXPECT_EQ(comp.Statistic().TotalAdded(), 3);
    EXPECT_EQ(comp.Statistic().TotalErrors(), 1);  // NOT NULL refused by the table engine
    EXPECT_FALSE(table->InTransaction());
    // A second connection sees every record while the first one is still open.
    auto other = Open();
    EXPECT_EQ(Dump(*other), (Lines{"1|a", "2|b", "3|c"}));
}

TEST_F(SqliteRunTest, UpdateDeleteAndCopy) {
    comp.records = {{"1", "a"}, {"2", "b"}};
    comp.Execute();

    comp.SetMode(imAppendUpdate);
    comp.SetDatasetKeys("ID");
    comp.records = {{"2", "B"}, {"3", "c"}};
    comp.Execute();
    EXPECT_EQ(Dump(*table), (Lines{"1|a", "2|B", "3|c"}));
    EXPECT_EQ(comp.Statistic().TotalUpdated(), 1);
    EXPECT_EQ(comp.Statistic().TotalAdded(), 1);

    comp.SetMode(imDelete);
    comp.records = {{"1"}, {"9"}};
    comp.Execute();
    EXPECT_EQ(Dump(*table), (Lines{"2|B", "3|c"}));
    EXPECT_EQ(comp.Statistic().TotalDeleted(), 1);

    comp.SetMode(imCopy);
    comp.records = {{"7", "x"}};
    comp.Execute();
    EXPECT_EQ(comp.Statistic().TotalDeleted(), 2);
    EXPECT_EQ(Dump(*Open()), (Lines{"7|x"}));
}

TEST_F(SqliteRunTest, FailedRunKeepsTheRecordsPostedBeforeTheFailure) {
    comp.records = {{"1", "a"}, {"", "b"}, {"3", "c"}};
    comp.OnErrorEvent = [](TQelBaseComponent&, const Exception&, bool&) {};  // keeps Abort: stop
    comp.Execute();
    EXPECT_EQ(comp.Statistic().Result(), irFailed);
    EXPECT_EQ(Dump(*Open()), (Lines{"1|a"}));
}

}  // namespace
}  // namespace qel::test
