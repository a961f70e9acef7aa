#pragma once
// "Search": name patterns, a date range, a size range and the deleted-only and subfolder
// switches of a search over a scanned volume.

#include <optional>

#include <QDateTime>
#include <QDialog>

#include "app/search_criteria.h"

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QWidget;

namespace brenvale::gui {

// Day numbers as the search takes them: days since 1899-12-30 with the time of day as the
// fraction, both read in local time.
double DayNumberOf(const QDateTime& moment);
QDateTime DateTimeOfDayNumber(double dayNumber);

class SearchDialog : public QDialog {
    Q_OBJECT
public:
    explicit SearchDialog(QWidget* parent = nullptr);

    // The values as the dialog shows them; an empty size edit reads as "0".
    app::SearchCriteria criteria() const;
    void setCriteria(const app::SearchCriteria& c);

    QRadioButton* allFilesButton() const { return FAllFiles; }
    QRadioButton* deletedFilesButton() const { return FDeletedFiles; }
    QCheckBox* nameEnable() const { return FNameEnable; }
    QLineEdit* nameEdit() const { return FName; }
    QCheckBox* dateEnable() const { return FDateEnable; }
    QComboBox* dateKind() const { return FDateKind; }
    QDateEdit* dateFrom() const { return FDateFrom; }
    QDateEdit* dateTo() const { return FDateTo; }
    QCheckBox* sizeEnable() const { return FSizeEnable; }
    QLineEdit* sizeFrom() const { return FSizeFrom; }
    QLineEdit* sizeTo() const { return FSizeTo; }
    QCheckBox* subFolders() const { return FSubFolders; }
    QPushButton* searchButton() const { return FSearch; }
    QPushButton* cancelButton() const { return FCancel; }

private:
    // Each group's "Enable" box switches the group's other controls.
    void updateEnabled();

    QRadioButton* FAllFiles = nullptr;
    QRadioButton* FDeletedFiles = nullptr;
    QCheckBox* FNameEnable = nullptr;
    QLineEdit* FName = nullptr;
    QWidget* FNameNote = nullptr;
    QCheckBox* FDateEnable = nullptr;
    QComboBox* FDateKind = nullptr;
    QDateEdit* FDateFrom = nullptr;
    QDateEdit* FDateTo = nullptr;
    QWidget* FDateFromLabel = nullptr;
    QWidget* FDateToLabel = nullptr;
    QCheckBox* FSizeEnable = nullptr;
    QLineEdit* FSizeFrom = nullptr;
    QLineEdit* FSizeTo = nullptr;
    QWidget* FSizeFromLabel = nullptr;
    QWidget* FSizeToLabel = nullptr;
    QCheckBox* FSubFolders = nullptr;
    QPushButton* FSearch = nullptr;
    QPushButton* FCancel = nullptr;
};

// Shows the dialog modally with the values it was left with earlier in this run (the defaults
// the first time); the criteria on "Search", nullopt on "Cancel".
std::optional<app::SearchCriteria> AskSearch(QWidget* parent);

}  // namespace brenvale::gui
