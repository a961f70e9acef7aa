#pragma once
// "Options": the settings of the configuration file the user may change.

#include <QDialog>

#include <memory>

#include "app/config.h"
#include "app/file_type_options.h"

class QCheckBox;
class QPushButton;
class QTabWidget;

namespace brenvale::gui {

class FileTypesTab;
class RawSizesTab;

class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    explicit OptionsDialog(const app::Config& config, QWidget* parent = nullptr);

    // Writes the dialog's settings into `config`; the settings it does not show stay as they are.
    void store(app::Config& config) const;

    QTabWidget* tabs() const { return FTabs; }
    QCheckBox* showOnlyDeletedBox() const { return FShowOnlyDeleted; }
    QCheckBox* adjustmentBox() const { return FAdjustment; }
    QPushButton* okButton() const { return FOk; }
    QPushButton* cancelButton() const { return FCancel; }
    FileTypesTab* fileTypesTab() const { return FFileTypesTab; }
    RawSizesTab* rawSizesTab() const { return FSizesTab; }

private:
    QTabWidget* FTabs = nullptr;
    // The working copy of the file-type settings the first two tabs edit.
    std::unique_ptr<app::FileTypeOptions> FFileTypes;
    FileTypesTab* FFileTypesTab = nullptr;
    RawSizesTab* FSizesTab = nullptr;
    QCheckBox* FShowOnlyDeleted = nullptr;
    QCheckBox* FAdjustment = nullptr;
    QPushButton* FOk = nullptr;
    QPushButton* FCancel = nullptr;
};

// Shows the dialog modally. On "OK" the settings go into `config` and the result is true (the
// caller saves the file); on "Cancel" `config` is left untouched and the result is false.
bool EditOptions(QWidget* parent, app::Config& config);

}  // namespace brenvale::gui
