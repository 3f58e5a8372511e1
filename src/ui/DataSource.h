// The binding of a dataset to a grid: a Qt table model that reads the dataset's rows lazily,
// a block at a time with a small cache, so a table of millions of rows opens at once and
// scrolls smoothly. It is a data link of the dataset: it refreshes when the dataset reports a
// change, and that report does not come while the dataset's controls are disabled.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "dataset/DataSet.h"

namespace qel {

// A grid column: the field it shows (found without regard to letter case) and its width in
// pixels (-1: the grid's default).
struct TGridColumn {
    std::string FieldName;
    int Width = -1;
};

class TDataSource : public QAbstractTableModel, private TDataLink {
    Q_OBJECT
  public:
    static constexpr int kBlockRows = 256;    // rows fetched with one ReadRecords
    static constexpr int kCachedBlocks = 16;  // blocks kept, the least recently used goes first

    explicit TDataSource(QObject* parent = nullptr);
    ~TDataSource() override;

    // The dataset shown (not owned; when it is destroyed the source shows nothing).
    void SetDataSet(TDataSet* dataSet);
    TDataSet* DataSet() const { return dataSet_; }

    // The columns in their order; none: one column per field of the dataset.
    void SetColumns(std::vector<TGridColumn> columns);
    const std::vector<TGridColumn>& Columns() const { return columns_; }
    int ColumnWidth(int column) const;

    // Rereads the record count and drops the cached rows.
    void Refresh();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    struct Block {
        std::vector<std::vector<QString>> rows;  // cells of the shown columns, as text
        std::list<std::int64_t>::iterator age;
    };
    struct Shown {  // a shown column resolved against the dataset's fields
        int field = -1;
        QString title;
        Qt::Alignment align = Qt::AlignLeft;
    };

    void DataSetChanged() override;
    void DataSetDestroyed() override;
    void Resolve();
    const Block* FetchBlock(std::int64_t block) const;

    TDataSet* dataSet_ = nullptr;
    std::vector<TGridColumn> columns_;
    std::vector<Shown> shown_;
    int rows_ = 0;

    mutable std::unordered_map<std::int64_t, Block> cache_;
    mutable std::list<std::int64_t> ages_;  // most recently used first
    mutable std::vector<std::vector<Variant>> scratch_;
};

}  // namespace qel
