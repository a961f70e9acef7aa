#pragma once
// "Adjustment": corrects the FAT guess of an advanced scan, either by the other FAT width or
// by two files of the rebuilt tree, from two folders, whose places give the geometry. The files
// are dragged from the file list into the two boxes, or (from the keyboard) taken from the
// list's selected row with the "Use selected file" buttons.

#include <QDialog>
#include <QLineEdit>

#include <functional>

#include "app/list_row.h"

class QLabel;
class QPushButton;
class QTabWidget;

namespace brenvale::scan {
struct TScanEntry;
}

namespace brenvale::gui {

// One of the two boxes: read-only, takes a drop of list rows.
class AdjustDropBox : public QLineEdit {
    Q_OBJECT
public:
    explicit AdjustDropBox(QWidget* parent = nullptr);

signals:
    void rowDropped(int row);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};

class AdjustDialog : public QDialog {
    Q_OBJECT
public:
    struct Hooks {
        // The list's row `row` (its copy in the view), or null.
        std::function<const app::ListRow*(int row)> rowAt;
        // The list's selected row, or -1 when not exactly one is selected.
        std::function<int()> selectedRow;
        // "/!!! Advanced Extra !!!/FAT Root/..." for the entry's folder.
        std::function<std::string(const scan::TScanEntry*)> fullPath;
        // The width the scan reads FAT entries with now.
        std::function<std::uint8_t()> fatType;
        // Runs the corrections; adjust is false when the files were refused.
        std::function<bool(const scan::TScanEntry*, const scan::TScanEntry*)> adjust;
        std::function<void()> changeFsType;
        std::function<void(const std::string& text)> warn;
    };
    AdjustDialog(Hooks hooks, QWidget* parent = nullptr);

    // A row of the list dropped on (or chosen for) box 1 or 2; false when refused.
    bool takeRow(int box, int row);
    void reset();
    // The width page's text again (after the width changed).
    void refreshFsText();

    AdjustDropBox* box(int i) const { return i == 1 ? box1_ : box2_; }
    QPushButton* adjustButton() const { return adjust_; }
    QPushButton* resetButton() const { return reset_; }
    QPushButton* useButton(int i) const { return i == 1 ? use1_ : use2_; }
    QPushButton* changeFsButton() const { return changeFs_; }
    QLabel* fsText() const { return fsText_; }
    QTabWidget* pages() const { return pages_; }
    const scan::TScanEntry* file(int i) const { return i == 1 ? file1_ : file2_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    Hooks hooks_;
    const scan::TScanEntry* file1_ = nullptr;
    const scan::TScanEntry* file2_ = nullptr;
    AdjustDropBox* box1_ = nullptr;
    AdjustDropBox* box2_ = nullptr;
    QPushButton* use1_ = nullptr;
    QPushButton* use2_ = nullptr;
    QPushButton* adjust_ = nullptr;
    QPushButton* reset_ = nullptr;
    QPushButton* changeFs_ = nullptr;
    QLabel* fsText_ = nullptr;
    QTabWidget* pages_ = nullptr;
};

}  // namespace brenvale::gui
