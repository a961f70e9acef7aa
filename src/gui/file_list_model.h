#pragma once
// The file list's rows for the view: a copy of what the shell lists, taken on the window's
// thread when a command has finished, so painting never reads rows a worker is replacing.

#include <QAbstractTableModel>

#include <string>
#include <vector>

#include "app/list_row.h"

namespace brenvale::gui {

// What a drag from the list carries: the numbers of the dragged rows, one per line.
inline constexpr char kListRowsMime[] = "application/x-brenvale-list-rows";

class FileListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // Replaces rows and column captions; `rightAligned` is the column of sizes.
    void setRows(std::vector<app::ListRow> rows, std::vector<std::string> captions, int rightAligned);
    // New captions only (the sort arrow moved).
    void setCaptions(std::vector<std::string> captions);
    const std::vector<app::ListRow>& rows() const { return rows_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // Rows can be dragged (into the "Adjustment" dialog).
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;

private:
    std::vector<app::ListRow> rows_;
    std::vector<std::string> captions_;
    int rightAligned_ = -1;
};

}  // namespace brenvale::gui
