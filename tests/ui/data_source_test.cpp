// The grid's data source over a dataset: lazy block reads, the block cache, columns, and
// refreshing only when the dataset reports a change.
#include <gtest/gtest.h>

#include <QSignalSpy>
#include <memory>

#include "dataset/DataSet.h"
#include "ui/DataSource.h"
#include "ui_test_support.h"

namespace qel {
namespace {

// A table of any number of generated records (record i: Host "host<i>", Code i % 600) that
// counts what the source reads from it.
class TGeneratedTable : public TDataSet {
  public:
    explicit TGeneratedTable(std::int64_t rows) : rows_(rows) {}
    ~TGeneratedTable() override { CloseQuietly(); }

    void ReadRecords(std::int64_t first, std::int64_t count,
                     std::vector<std::vector<Variant>>& out) override {
        reads.push_back(first);
        out.clear();
        for (std::int64_t id = first + 1; id <= rows_ && id <= first + count; ++id) {
            out.emplace_back();
            InternalRead(id, out.back());
        }
    }
    std::vector<std::int64_t> reads;  // first position of every ReadRecords call

  protected:
    std::vector<TFieldDef> InternalOpen() override {
        return {{"Host", ftString, 40}, {"Code", ftInteger}};
    }
    void InternalClose() override {}
    std::int64_t InternalRecordCount() override { return rows_; }
    bool InternalSeek(TSeek how, TRecordId& id) override {
        TRecordId to = how == skFirst ? 1 : how == skLast ? rows_ : how == skNext ? id + 1 : id - 1;
        if (to < 1 || to > rows_) return false;
        id = to;
        return true;
    }
    bool InternalRead(TRecordId id, std::vector<Variant>& values) override {
        if (id < 1 || id > rows_) return false;
        values = {Variant("host" + std::to_string(id)),
                  Variant(static_cast<std::int32_t>(id % 600))};
        return true;
    }
    TRecordId InternalInsert(const std::vector<Variant>&, const TFieldFlags&) override {
        return ++rows_;
    }
    void InternalUpdate(TRecordId, const std::vector<Variant>&, const TFieldFlags&) override {}
    void InternalDelete(TRecordId) override { --rows_; }
    std::int64_t InternalRecNo(TRecordId id) override { return id; }

  private:
    std::int64_t rows_;
};

QString Cell(const TDataSource& s, int row, int column) {
    return s.data(s.index(row, column)).toString();
}

class DataSourceTest : public ::testing::Test {
  protected:
    void SetUp() override { test::EnsureApplication(); }
};

TEST_F(DataSourceTest, MillionsOfRowsOpenWithoutReadingAndEachVisitReadsOneBlock) {
    TGeneratedTable table(5'000'000);
    table.Open();
    TDataSource source;
    source.SetDataSet(&table);
    EXPECT_EQ(source.rowCount(), 5'000'000);
    EXPECT_EQ(source.columnCount(), 2);
    EXPECT_TRUE(table.reads.empty());

    struct Visit {
        int row;
        const char* host;
        std::int64_t blockStart;
    } visits[] = {
        {4'999'999, "host5000000", 4'999'936},  // the last row: its block is cut short
        {4'999'936, "host4999937", -1},         // same block: served from the cache
        {0, "host1", 0},
        {255, "host256", -1},
        {256, "host257", 256},
        {2'500'000, "host2500001", 2'499'840},
    };
    for (const Visit& v : visits) {
        const std::size_t before = table.reads.size();
        EXPECT_EQ(Cell(source, v.row, 0), v.host) << v.row;
        if (v.blockStart < 0) {
            EXPECT_EQ(table.reads.size(), before) << v.row;
        } else {
            ASSERT_EQ(table.reads.size(), before + 1) << v.row;
            EXPECT_EQ(table.reads.back(), v.blockStart);
        }
    }
}

TEST_F(DataSourceTest, CacheKeepsTheMostRecentlyUsedBlocks) {
    TGeneratedTable table(100'000);
    table.Open();
    TDataSource source;
    source.SetDataSet(&table);
    const int block = TDataSource::kBlockRows;
    for (int b = 0; b < TDataSource::kCachedBlocks; ++b) Cell(source, b * block, 0);
    ASSERT_EQ(table.reads.size(), static_cast<std::size_t>(TDataSource::kCachedBlocks));
    Cell(source, 0, 0);                                   // block 0 becomes the newest
    Cell(source, TDataSource::kCachedBlocks * block, 0);  // one block too many: drops block 1
    const std::size_t reads = table.reads.size();
    Cell(source, 3, 1);
    EXPECT_EQ(table.reads.size(), reads) << "block 0 was used recently and stays";
    Cell(source, block + 3, 1);
    EXPECT_EQ(table.reads.size(), reads + 1) << "block 1 was the oldest and was dropped";
}

TEST_F(DataSourceTest, ColumnsFindTheirFieldsWithoutRegardToCase) {
    TGeneratedTable table(10);
    table.Open();
    TDataSource source;
    source.SetColumns({{"code", -1}, {"HOST", 149}, {"Missing", 50}});
    source.SetDataSet(&table);
    ASSERT_EQ(source.columnCount(), 3);
    struct Case {
        int column;
        const char* title;
        const char* cell;
        bool right;
        int width;
    } cases[] = {
        {0, "Code", "7", true, -1},
        {1, "Host", "host7", false, 149},
        {2, "Missing", "", false, 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        EXPECT_EQ(source.headerData(c.column, Qt::Horizontal).toString(), c.title);
        EXPECT_EQ(Cell(source, 6, c.column), c.cell);
        const auto align =
            source.data(source.index(6, c.column), Qt::TextAlignmentRole).value<Qt::Alignment>();
        EXPECT_EQ(bool(align & Qt::AlignRight), c.right);
        EXPECT_EQ(source.ColumnWidth(c.column), c.width);
    }
}

TEST_F(DataSourceTest, DisabledControlsFreezeTheViewUntilTheyAreEnabledAgain) {
    TGeneratedTable table(1000);
    table.Open();
    TDataSource source;
    source.SetDataSet(&table);
    EXPECT_EQ(Cell(source, 0, 0), "host1");
    QSignalSpy resets(&source, &QAbstractItemModel::modelReset);

    table.DisableControls();
    table.DisableControls();  // nested, as a run inside a host's own bracket
    for (int i = 0; i < 300; ++i) {
        table.Append();
        table.Fields(0)->SetValue(Variant("new"));
        table.Post();
    }
    table.First();
    const std::size_t reads = table.reads.size();
    EXPECT_EQ(source.rowCount(), 1000);
    EXPECT_EQ(Cell(source, 0, 0), "host1") << "what the view has stays";
    EXPECT_EQ(Cell(source, 900, 0), "") << "nothing new is read while frozen";
    EXPECT_EQ(table.reads.size(), reads);
    table.EnableControls();
    EXPECT_EQ(resets.count(), 0);

    table.EnableControls();
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(source.rowCount(), 1300);
    EXPECT_EQ(Cell(source, 1299, 0), "host1300");
}

TEST_F(DataSourceTest, ClosedOrDestroyedDatasetShowsNoRows) {
    auto table = std::make_unique<TGeneratedTable>(50);
    TDataSource source;
    source.SetColumns({{"Host", 100}});
    source.SetDataSet(table.get());
    EXPECT_EQ(source.rowCount(), 0) << "not open yet";
    table->Open();
    EXPECT_EQ(source.rowCount(), 50);
    table->Close();
    EXPECT_EQ(source.rowCount(), 0);
    table->Open();
    EXPECT_EQ(source.rowCount(), 50);
    table.reset();
    EXPECT_EQ(source.DataSet(), nullptr);
    EXPECT_EQ(source.rowCount(), 0);
    EXPECT_EQ(Cell(source, 0, 0), "");
}

}  // namespace
}  // namespace qel
