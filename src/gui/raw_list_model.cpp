#include "gui/raw_list_model.h"

#include <QPainter>

#include "app/raw_preview.h"

namespace brenvale::gui {

namespace {

QPixmap makePlaceholder() {
    QPixmap p(app::kThumbSide, app::kThumbSide);
    p.fill(Qt::white);
    QPainter painter(&p);
    painter.setPen(QColor(0xB0, 0xB0, 0xB0));
    painter.drawRect(0, 0, app::kThumbSide - 1, app::kThumbSide - 1);
    painter.drawLine(28, 60, 42, 44);
    painter.drawLine(42, 44, 52, 54);
    painter.drawLine(52, 54, 60, 48);
    painter.drawLine(60, 48, 68, 60);
    painter.drawEllipse(QPoint(58, 34), 4, 4);
    return p;
}

}  // namespace

RawListModel::RawListModel(QObject* parent) : QAbstractTableModel(parent), placeholder_(makePlaceholder()) {}

void RawListModel::setRows(std::vector<app::RawRow> rows, bool thumbnails, QIcon smallIcon) {
    beginResetModel();
    rows_ = std::move(rows);
    thumbs_.assign(rows_.size(), QPixmap());
    thumbnails_ = thumbnails;
    smallIcon_ = std::move(smallIcon);
    endResetModel();
}

void RawListModel::setThumbnail(int row, const QPixmap& picture) {
    if (row < 0 || row >= static_cast<int>(thumbs_.size())) return;
    thumbs_[static_cast<std::size_t>(row)] = picture;
    const QModelIndex i = index(row, Name);
    emit dataChanged(i, i, {Qt::DecorationRole});
}

bool RawListModel::hasThumbnail(int row) const {
    return row >= 0 && row < static_cast<int>(thumbs_.size()) && !thumbs_[static_cast<std::size_t>(row)].isNull();
}

void RawListModel::rowChanged(int row) { emit dataChanged(index(row, Name), index(row, Type)); }

int RawListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int RawListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant RawListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
    const app::RawRow& r = rows_[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole) {
        switch (index.column()) {
            case Name: return QString::fromStdString(r.Caption);
            case Size: return QString::fromStdString(r.SizeText);
            case Type: return QString::fromStdString(r.TypeText);
            default: return {};
        }
    }
    if (role == Qt::DecorationRole && index.column() == Name) {
        if (!thumbnails_) return smallIcon_;
        const QPixmap& t = thumbs_[static_cast<std::size_t>(index.row())];
        return t.isNull() ? placeholder_ : t;
    }
    if (role == Qt::TextAlignmentRole && index.column() == Size) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant RawListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case Name: return QStringLiteral("Name");
        case Size: return QStringLiteral("Size");
        case Type: return QStringLiteral("Type");
        default: return {};
    }
}

}  // namespace brenvale::gui
