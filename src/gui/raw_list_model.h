#pragma once
// The rows of the "Raw Recovery" list with their thumbnails: a placeholder until the worker
// has made a row's picture.

#include <QAbstractTableModel>
#include <QIcon>
#include <QPixmap>

#include <vector>

#include "app/raw_recovery_model.h"

namespace brenvale::gui {

class RawListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Name = 0, Size = 1, Type = 2, ColumnCount = 3 };
    explicit RawListModel(QObject* parent = nullptr);

    // New rows; `thumbnails`: the first column shows a 95 x 95 picture (placeholder first),
    // else `smallIcon`.
    void setRows(std::vector<app::RawRow> rows, bool thumbnails, QIcon smallIcon);
    const std::vector<app::RawRow>& rows() const { return rows_; }
    app::RawRow& row(int i) { return rows_[static_cast<std::size_t>(i)]; }
    void setThumbnail(int row, const QPixmap& picture);
    bool hasThumbnail(int row) const;
    // The row's texts changed (its size grew).
    void rowChanged(int row);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<app::RawRow> rows_;
    std::vector<QPixmap> thumbs_;
    bool thumbnails_ = false;
    QIcon smallIcon_;
    QPixmap placeholder_;
};

}  // namespace brenvale::gui
