#include "ui/DataSource.h"

#include <algorithm>
#include <climits>

namespace qel {

TDataSource::TDataSource(QObject* parent) : QAbstractTableModel(parent) {}

TDataSource::~TDataSource() {
    if (dataSet_) dataSet_->RemoveDataLink(this);
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
    if (dataSet == dataSet_) return;
    if (dataSet_) dataSet_->RemoveDataLink(this);
    dataSet_ = dataSet;
    if (dataSet_) dataSet_->AddDataLink(this);
    Refresh();
}

void TDataSource::SetColumns(std::vector<TGridColumn> columns) {
    columns_ = std::move(columns);
    Refresh();
}

int TDataSource::ColumnWidth(int column) const {
    if (column < 0 || column >= static_cast<int>(columns_.size())) return -1;
    return columns_[static_cast<std::size_t>(column)].Width;
}

void TDataSource::DataSetChanged() {
    Refresh();
}

void TDataSource::DataSetDestroyed() {
    // The dataset is going away: forget it without calling it again.
    beginResetModel();
    dataSet_ = nullptr;
    shown_.clear();
    rows_ = 0;
    cache_.clear();
    ages_.clear();
    endResetModel();
}

void TDataSource::Refresh() {
    beginResetModel();
    cache_.clear();
    ages_.clear();
    Resolve();
    rows_ = 0;
    if (dataSet_ && dataSet_->Active()) {
        try {
            rows_ = static_cast<int>(std::min<std::int64_t>(dataSet_->RecordCount(), INT_MAX));
        } catch (const std::exception&) {
            rows_ = 0;  // a store that cannot count shows nothing rather than failing the view
        }
    }
    endResetModel();
}

void TDataSource::Resolve() {
    shown_.clear();
    if (!dataSet_ || !dataSet_->Active()) {
        for (const auto& c : columns_) shown_.push_back({-1, QString::fromStdString(c.FieldName)});
        return;
    }
    auto describe = [](const TField* f) {
        Shown s;
        s.field = f->Index();
        s.title = QString::fromStdString(f->DisplayLabel());
        s.align = f->Alignment() == taRightJustify ? Qt::AlignRight
                  : f->Alignment() == taCenter     ? Qt::AlignHCenter
                                                   : Qt::AlignLeft;
        return s;
    };
    if (columns_.empty()) {
        for (int i = 0; i < dataSet_->FieldCount(); ++i)
            shown_.push_back(describe(dataSet_->Fields(i)));
        return;
    }
    for (const auto& c : columns_) {
        if (const TField* f = dataSet_->FindField(c.FieldName)) {
            shown_.push_back(describe(f));
        } else {
            shown_.push_back({-1, QString::fromStdString(c.FieldName)});
        }
    }
}

int TDataSource::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int TDataSource::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(shown_.size());
}

const TDataSource::Block* TDataSource::FetchBlock(std::int64_t block) const {
    if (auto it = cache_.find(block); it != cache_.end()) {
        ages_.splice(ages_.begin(), ages_, it->second.age);
        return &it->second;
    }
    // While a run holds the controls disabled the view keeps what it has: the dataset's rows
    // are in motion and reading them would make the grid follow the run.
    if (!dataSet_ || !dataSet_->Active() || dataSet_->ControlsDisabled()) return nullptr;
    scratch_.clear();
    try {
        dataSet_->ReadRecords(block * kBlockRows, kBlockRows, scratch_);
    } catch (const std::exception&) {
        return nullptr;
    }
    if (static_cast<int>(cache_.size()) >= kCachedBlocks) {
        cache_.erase(ages_.back());
        ages_.pop_back();
    }
    ages_.push_front(block);
    Block& b = cache_[block];
    b.age = ages_.begin();
    b.rows.reserve(scratch_.size());
    for (const auto& record : scratch_) {
        std::vector<QString> cells;
        cells.reserve(shown_.size());
        for (const Shown& s : shown_) {
            if (s.field < 0 || s.field >= static_cast<int>(record.size())) {
                cells.emplace_back();
            } else {
                const std::string text = VarToStr(record[static_cast<std::size_t>(s.field)]);
                cells.push_back(
                    QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
            }
        }
        b.rows.push_back(std::move(cells));
    }
    return &b;
}

QVariant TDataSource::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_ ||
        index.column() >= static_cast<int>(shown_.size()))
        return {};
    const Shown& s = shown_[static_cast<std::size_t>(index.column())];
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(s.align | Qt::AlignVCenter);
    if (role != Qt::DisplayRole) return {};
    const Block* b = FetchBlock(index.row() / kBlockRows);
    if (!b) return {};
    const auto offset = static_cast<std::size_t>(index.row() % kBlockRows);
    if (offset >= b->rows.size()) return {};
    return b->rows[offset][static_cast<std::size_t>(index.column())];
}

QVariant TDataSource::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return QAbstractTableModel::headerData(section, orientation, role);
    if (orientation == Qt::Horizontal) {
        if (section < 0 || section >= static_cast<int>(shown_.size())) return {};
        return shown_[static_cast<std::size_t>(section)].title;
    }
    return {};
}

}  // namespace qel
