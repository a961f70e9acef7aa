#include "gui/recovery_summary_dialog.h"

#include <QDesktopServices>
#include <QDir>
#include <QFormLayout>
#include <QUrl>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

#include <fmt/format.h>

namespace brenvale::gui {

namespace {

constexpr char kDetailsCaption[] = "Details of failed files:";
constexpr char kShowDetails[] = "Show Details";
constexpr char kHideDetails[] = "Hide Details";

}  // namespace

RecoverySummaryDialog::RecoverySummaryDialog(const app::RecoverySummary& summary, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(app::kSummaryTitle));
    setModal(true);

    auto* counters = new QFormLayout;
    counters->setLabelAlignment(Qt::AlignLeft);
    counters->setHorizontalSpacing(16);
    FProcessed = new QLabel(QString::number(summary.numProcessed), this);
    FRecovered = new QLabel(QString::number(summary.numRecovered), this);
    FFailed = new QLabel(QString::number(summary.numFailed), this);
    counters->addRow(new QLabel(QString::fromUtf8(app::kProcessedLabel), this), FProcessed);
    counters->addRow(new QLabel(QString::fromUtf8(app::kRecoveredLabel), this), FRecovered);
    counters->addRow(new QLabel(QString::fromUtf8(app::kFailedLabel), this), FFailed);
    // Where the files went, and for a stopped recovery that it was stopped.
    QString outcome = QString::fromStdString(fmt::format(app::kRecoveredToFormat, summary.Destination));
    if (summary.outcome == app::RecoveryOutcome::Stopped) {
        outcome = QString::fromStdString(fmt::format(app::kRecoveryStoppedNote, summary.numRecovered, summary.FilesToDo)) +
                  QLatin1Char('\n') + outcome;
    }
    FOutcome = new QLabel(outcome, this);
    FOutcome->setWordWrap(true);
    FOutcome->setTextInteractionFlags(Qt::TextSelectableByMouse);
    counters->addRow(FOutcome);

    FCloseButton = new QPushButton(QStringLiteral("Close"), this);
    FCloseButton->setDefault(true);
    FDetailsButton = new QPushButton(QString::fromUtf8(kShowDetails), this);
    FDetailsButton->setAutoDefault(false);
    connect(FCloseButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(FDetailsButton, &QPushButton::clicked, this, [this] { setDetailsShown(!FDetailsShown); });
    FOpenFolder = new QPushButton(QStringLiteral("Open Folder"), this);
    FOpenFolder->setAutoDefault(false);
    FOpenFolder->setEnabled(!summary.Destination.empty());
    openFolder = [](const QString& folder) { return QDesktopServices::openUrl(QUrl::fromLocalFile(folder)); };
    const QString destination = QString::fromStdString(summary.Destination);
    connect(FOpenFolder, &QPushButton::clicked, this, [this, destination] {
        if (openFolder) openFolder(QDir::cleanPath(destination));
    });
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(FCloseButton);
    buttons->addWidget(FOpenFolder);
    buttons->addWidget(FDetailsButton);
    buttons->addStretch();

    auto* top = new QHBoxLayout;
    top->addLayout(counters, 1);
    top->addLayout(buttons);

    FDetailsPanel = new QWidget(this);
    auto* detailsLayout = new QVBoxLayout(FDetailsPanel);
    detailsLayout->setContentsMargins(0, 0, 0, 0);
    detailsLayout->addWidget(new QLabel(QString::fromUtf8(kDetailsCaption), FDetailsPanel));
    FDetails = new QPlainTextEdit(FDetailsPanel);
    FDetails->setReadOnly(true);
    FDetails->setLineWrapMode(QPlainTextEdit::NoWrap);
    QStringList lines;
    for (const std::string& line : summary.DetailsList) lines << QString::fromStdString(line);
    FDetails->setPlainText(lines.join(QLatin1Char('\n')));
    detailsLayout->addWidget(FDetails);
    // Failed files are not left behind: said where the failures are listed.
    if (summary.numFailed > 0) {
        auto* removed = new QLabel(QString::fromUtf8(app::kFailedFilesRemoved), FDetailsPanel);
        removed->setWordWrap(true);
        detailsLayout->addWidget(removed);
    }

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(FDetailsPanel, 1);
    layout->addStretch(0);

    FDetailsPanel->setVisible(false);
    setFixedSize(kWidth, kShortHeight);
}

void RecoverySummaryDialog::setDetailsShown(bool shown) {
    FDetailsShown = shown;
    FDetailsPanel->setVisible(shown);
    FDetailsButton->setText(QString::fromUtf8(shown ? kHideDetails : kShowDetails));
    setFixedSize(kWidth, shown ? kTallHeight : kShortHeight);
}

void ShowRecoverySummary(QWidget* parent, const app::RecoverySummary& summary) {
    RecoverySummaryDialog dialog(summary, parent);
    dialog.exec();
}

}  // namespace brenvale::gui
