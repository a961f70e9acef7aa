#include "gui/file_list_model.h"

#include <QMimeData>

#include <set>

#include "gui/icons.h"

namespace brenvale::gui {

void FileListModel::setRows(std::vector<app::ListRow> rows, std::vector<std::string> captions, int rightAligned) {
    beginResetModel();
    rows_ = std::move(rows);
    captions_ = std::move(captions);
    rightAligned_ = rightAligned;
    endResetModel();
}

void FileListModel::setCaptions(std::vector<std::string> captions) {
    captions_ = std::move(captions);
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(captions_.size());
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
    const app::ListRow& row = rows_[static_cast<std::size_t>(index.row())];
    const auto column = static_cast<std::size_t>(index.column());
    switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            if (column == 0) return QString::fromStdString(row.Caption);
            if (column - 1 < row.SubItems.size()) return QString::fromStdString(row.SubItems[column - 1]);
            return {};
        case Qt::DecorationRole:
            return column == 0 ? QVariant(IconImage(app::RowIcon(row))) : QVariant();
        case Qt::TextAlignmentRole:
            return index.column() == rightAligned_ ? int(Qt::AlignRight | Qt::AlignVCenter)
                                                   : int(Qt::AlignLeft | Qt::AlignVCenter);
        default:
            return {};
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= columnCount()) return {};
    if (role == Qt::DisplayRole) return QString::fromStdString(captions_[static_cast<std::size_t>(section)]);
    if (role == Qt::TextAlignmentRole && section == rightAligned_) return int(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

}  // namespace brenvale::gui

namespace brenvale::gui {

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid()) f |= Qt::ItemIsDragEnabled;
    return f;
}

QStringList FileListModel::mimeTypes() const { return {QString::fromLatin1(kListRowsMime)}; }

QMimeData* FileListModel::mimeData(const QModelIndexList& indexes) const {
    std::set<int> rows;
    for (const QModelIndex& i : indexes) {
        if (i.isValid()) rows.insert(i.row());
    }
    QByteArray text;
    for (int r : rows) text += QByteArray::number(r) + '\n';
    auto* data = new QMimeData;
    data->setData(QString::fromLatin1(kListRowsMime), text);
    return data;
}

}  // namespace brenvale::gui
