#pragma once
// The "File Types" and "Raw Recovery" tabs of "Options", over one working copy of the settings
// that "OK" stores.

#include <QWidget>

#include <functional>

#include "app/file_type_options.h"

class QCheckBox;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTreeWidget;

namespace brenvale::gui {

// Shows a refusal of a tab; tests replace it.
using RefusalSink = std::function<void(QWidget* parent, const app::OptionsRefusal& refusal)>;
void ShowRefusal(QWidget* parent, const app::OptionsRefusal& refusal);

class FileTypesTab : public QWidget {
    Q_OBJECT
public:
    FileTypesTab(app::FileTypeOptions& options, QWidget* parent = nullptr);

    QListWidget* list() const { return FList; }
    QLineEdit* edit() const { return FEdit; }
    QPushButton* addButton() const { return FAdd; }
    QPushButton* removeButton() const { return FRemove; }
    QCheckBox* expandBox() const { return FExpand; }
    RefusalSink refuse = ShowRefusal;

    void add();
    void remove();

private:
    void refresh();

    app::FileTypeOptions& FOptions;
    QListWidget* FList = nullptr;
    QLineEdit* FEdit = nullptr;
    QPushButton* FAdd = nullptr;
    QPushButton* FRemove = nullptr;
    QCheckBox* FExpand = nullptr;
};

class RawSizesTab : public QWidget {
    Q_OBJECT
public:
    RawSizesTab(app::FileTypeOptions& options, QWidget* parent = nullptr);

    QTreeWidget* list() const { return FList; }
    QLineEdit* captionEdit() const { return FCaption; }
    QLineEdit* defaultEdit() const { return FDefault; }
    QLineEdit* maxEdit() const { return FMax; }
    QPushButton* applyButton() const { return FApply; }
    RefusalSink refuse = ShowRefusal;

    void apply();

private:
    void showRow(int row);

    app::FileTypeOptions& FOptions;
    QTreeWidget* FList = nullptr;
    QLineEdit* FCaption = nullptr;
    QLineEdit* FDefault = nullptr;
    QLineEdit* FMax = nullptr;
    QPushButton* FApply = nullptr;
};

}  // namespace brenvale::gui
