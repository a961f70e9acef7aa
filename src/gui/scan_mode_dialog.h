#pragma once
// "Select Scan Mode": the scan methods the selected node allows, one clickable row each.

#include <cstddef>
#include <vector>

#include <QDialog>

#include "app/shell.h"

class QLabel;
class QPushButton;

namespace brenvale::gui {

class ScanModeDialog : public QDialog {
    Q_OBJECT
public:
    explicit ScanModeDialog(const std::vector<app::ScanModeChoice>& choices, QWidget* parent = nullptr);

    // The Result of the clicked choice; 0 while none was clicked (and after "Cancel").
    int choice() const { return FChoice; }

    std::size_t choiceCount() const { return FRows.size(); }
    QPushButton* choiceButton(std::size_t index) const { return FRows.at(index).button; }
    QLabel* titleLabel(std::size_t index) const { return FRows.at(index).title; }
    QLabel* descriptionLabel(std::size_t index) const { return FRows.at(index).description; }
    QPushButton* cancelButton() const { return FCancel; }

protected:
    // A click on a choice's title or description counts as a click on its button.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Row {
        int result = 0;
        QPushButton* button = nullptr;
        QLabel* title = nullptr;
        QLabel* description = nullptr;
    };
    void pick(int result);

    std::vector<Row> FRows;
    QPushButton* FCancel = nullptr;
    int FChoice = 0;
};

// Shows the dialog modally; the chosen Result, or 0 when cancelled.
int ChooseScanMode(QWidget* parent, const std::vector<app::ScanModeChoice>& choices);

}  // namespace brenvale::gui
