#include "gui/options_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "gui/file_type_tabs.h"

namespace brenvale::gui {

OptionsDialog::OptionsDialog(const app::Config& config, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Options"));
    setModal(true);

    FTabs = new QTabWidget(this);
    FFileTypes = std::make_unique<app::FileTypeOptions>(config);
    FFileTypesTab = new FileTypesTab(*FFileTypes, FTabs);
    FSizesTab = new RawSizesTab(*FFileTypes, FTabs);
    FTabs->addTab(FFileTypesTab, QStringLiteral("File Types"));
    FTabs->addTab(FSizesTab, QStringLiteral("Raw Recovery"));
    auto* misc = new QWidget(FTabs);
    FShowOnlyDeleted = new QCheckBox(
        QStringLiteral("Show only deleted items after Scan (takes effect after the next scan)."), misc);
    FShowOnlyDeleted->setChecked(config.ShowOnlyDeleted);
    // Present but never shown: the user does not change this setting here, yet OK writes the
    // box back, so it must carry the configured value.
    FAdjustment = new QCheckBox(QStringLiteral("Show \"Adjustment\" dialog after Advanced Scan."), misc);
    FAdjustment->setChecked(config.AdjustmentQuery);
    FAdjustment->setVisible(false);
    auto* miscLayout = new QVBoxLayout(misc);
    miscLayout->addWidget(FShowOnlyDeleted);
    miscLayout->addWidget(FAdjustment);
    miscLayout->addStretch();
    FTabs->addTab(misc, QStringLiteral("Misc"));

    auto* buttons = new QDialogButtonBox(this);
    FOk = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    FCancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    FOk->setDefault(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(FTabs);
    layout->addWidget(buttons);
    resize(560, 420);
}

void OptionsDialog::store(app::Config& config) const {
    config.ShowOnlyDeleted = FShowOnlyDeleted->isChecked();
    config.AdjustmentQuery = FAdjustment->isChecked();
    FFileTypes->Store(config);
}

bool EditOptions(QWidget* parent, app::Config& config) {
    OptionsDialog dialog(config, parent);
    if (dialog.exec() != QDialog::Accepted) return false;
    dialog.store(config);
    return true;
}

}  // namespace brenvale::gui
