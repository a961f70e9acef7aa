#pragma once
// "Recovery Summary": the counters of a finished or stopped recovery, where the files went (with
// a button that opens that folder) and, on request, the failure lines.

#include <QDialog>

#include <functional>

#include "app/recover_command.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QWidget;

namespace brenvale::gui {

class RecoverySummaryDialog : public QDialog {
    Q_OBJECT
public:
    // Client heights of the two forms.
    static constexpr int kShortHeight = 170;
    static constexpr int kTallHeight = 390;
    static constexpr int kWidth = 460;

    explicit RecoverySummaryDialog(const app::RecoverySummary& summary, QWidget* parent = nullptr);

    bool detailsShown() const { return FDetailsShown; }
    // The short form hides the failure lines; the tall form shows them.
    void setDetailsShown(bool shown);

    QPushButton* detailsButton() const { return FDetailsButton; }
    QPushButton* closeButton() const { return FCloseButton; }
    QPlainTextEdit* detailsBox() const { return FDetails; }
    QLabel* processedValue() const { return FProcessed; }
    QLabel* recoveredValue() const { return FRecovered; }
    QLabel* failedValue() const { return FFailed; }
    QLabel* outcomeLabel() const { return FOutcome; }
    QPushButton* openFolderButton() const { return FOpenFolder; }
    // Opens a folder in the desktop's file manager; tests replace it.
    std::function<bool(const QString& folder)> openFolder;

private:
    QLabel* FProcessed = nullptr;
    QLabel* FRecovered = nullptr;
    QLabel* FFailed = nullptr;
    QLabel* FOutcome = nullptr;
    QPushButton* FOpenFolder = nullptr;
    QWidget* FDetailsPanel = nullptr;
    QPlainTextEdit* FDetails = nullptr;
    QPushButton* FDetailsButton = nullptr;
    QPushButton* FCloseButton = nullptr;
    bool FDetailsShown = false;
};

// Shows the dialog modally.
void ShowRecoverySummary(QWidget* parent, const app::RecoverySummary& summary);

}  // namespace brenvale::gui
