#include "gui/scan_mode_dialog.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/user_interface.h"
#include "gui/icons.h"

namespace brenvale::gui {

namespace {

constexpr int kDialogWidth = 520;
constexpr int kButtonSize = 48;

// The picture on a choice's button: what the scan works on or produces.
app::Icon IconForMode(int result) {
    switch (result) {
        case app::kScanModeNormal: return app::Icon::Volume;
        case app::kScanModeAdvanced: return app::Icon::Advanced;
        case app::kScanModePartitions: return app::Icon::LostPartitions;
        case app::kScanModeResume: return app::Icon::AdvancedOpen;
        default: return app::Icon::Volume;
    }
}

}  // namespace

ScanModeDialog::ScanModeDialog(const std::vector<app::ScanModeChoice>& choices, QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(QString::fromUtf8(app::kScanModeCaption));
    setModal(true);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(10);
    grid->setColumnStretch(1, 1);
    int gridRow = 0;
    for (const app::ScanModeChoice& c : choices) {
        Row row;
        row.result = c.Result;
        const QString title = QString::fromUtf8(c.Title);

        row.button = new QPushButton(this);
        row.button->setIcon(IconImage(IconForMode(c.Result)));
        row.button->setIconSize(QSize(32, 32));
        row.button->setFixedSize(kButtonSize, kButtonSize);
        // Enter starts the choice that has the focus; the frame shows which one that is.
        row.button->setAutoDefault(true);
        row.button->setStyleSheet(QStringLiteral("QPushButton:focus { border: 2px solid palette(highlight); border-radius: 4px; }"));
        row.button->setAccessibleName(title);
        row.button->setToolTip(title);

        row.title = new QLabel(title, this);
        QFont bold = row.title->font();
        bold.setBold(true);
        row.title->setFont(bold);

        row.description = new QLabel(QString::fromUtf8(c.Description), this);
        row.description->setWordWrap(true);
        row.description->setAlignment(Qt::AlignLeft | Qt::AlignTop);

        for (QWidget* w : {static_cast<QWidget*>(row.button), static_cast<QWidget*>(row.title),
                           static_cast<QWidget*>(row.description)}) {
            w->setEnabled(c.Enabled);
        }
        row.title->installEventFilter(this);
        row.description->installEventFilter(this);
        row.title->setCursor(Qt::PointingHandCursor);
        row.description->setCursor(Qt::PointingHandCursor);

        const int result = c.Result;
        connect(row.button, &QPushButton::clicked, this, [this, result] { pick(result); });

        auto* text = new QVBoxLayout;
        text->setSpacing(2);
        text->addWidget(row.title);
        text->addWidget(row.description);
        text->addStretch();
        grid->addWidget(row.button, gridRow, 0, Qt::AlignTop);
        grid->addLayout(text, gridRow, 1);
        ++gridRow;
        FRows.push_back(row);
    }

    auto* buttons = new QDialogButtonBox(this);
    FCancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    FCancel->setAutoDefault(false);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addSpacing(6);
    layout->addWidget(buttons);
    setFixedWidth(kDialogWidth);
    // The keyboard starts on the first choice that can run.
    for (const Row& row : FRows) {
        if (row.button->isEnabled()) {
            row.button->setFocus();
            row.button->setDefault(true);
            break;
        }
    }
}

bool ScanModeDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        for (const Row& row : FRows) {
            if ((watched == row.title || watched == row.description) && row.button->isEnabled()) {
                pick(row.result);
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ScanModeDialog::pick(int result) {
    FChoice = result;
    accept();
}

int ChooseScanMode(QWidget* parent, const std::vector<app::ScanModeChoice>& choices) {
    ScanModeDialog dialog(choices, parent);
    if (dialog.exec() != QDialog::Accepted) return 0;
    return dialog.choice();
}

}  // namespace brenvale::gui
