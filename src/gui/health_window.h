#pragma once
// "HDD Health Diagnosis": the drives that answer, the attributes of the chosen one with their
// status, and the verdict in the status line. Drives are read on the window's own worker
// thread (a silent USB bridge takes seconds); the dialog only shows what came back.

#include <QDialog>

#include <memory>
#include <string>
#include <vector>

#include "gui/worker.h"
#include "health/drive_health.h"
#include "health/smart_reader.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTreeWidget;

namespace brenvale::gui {

inline constexpr char kHealthWindowTitle[] = "Brenvale - HDD Health Diagnosis";
inline constexpr char kHealthCommandText[] = "HDD Health Diagnosis";

class HealthWindow : public QDialog {
    Q_OBJECT
public:
    HealthWindow(platform::Platform& os, platform::DriveCommands& drives, QWidget* parent = nullptr);

    // Reads the drive list again (on show and "Refresh Drive List").
    void refresh();
    bool reading() const { return worker_.busy(); }

    QComboBox* driveBox() const { return drives_; }
    QTreeWidget* attributeList() const { return list_; }
    QLabel* statusLine() const { return status_; }
    QLabel* descriptionLabel() const { return description_; }

signals:
    // The drive list has been read and is shown.
    void driveListRead();

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct Drive {
        std::string path;
        health::DrivePages pages;
        health::HealthReport report;
    };
    void showDrives();
    void showDrive(int index);
    void showAttribute();

    platform::Platform& os_;
    health::SmartReader reader_;
    Worker worker_;
    std::shared_ptr<std::vector<Drive>> read_;  // filled on the worker
    std::vector<Drive> shown_;
    bool noneOpened_ = false;  // no drive could even be opened (not root, say)
    bool shownOnce_ = false;

    QComboBox* drives_ = nullptr;
    QPushButton* refresh_ = nullptr;
    QLabel* serial_ = nullptr;
    QLabel* powerCycles_ = nullptr;
    QLabel* powerOnHours_ = nullptr;
    QLabel* temperature_ = nullptr;
    QTreeWidget* list_ = nullptr;
    QLabel* description_ = nullptr;
    QLabel* status_ = nullptr;
};

}  // namespace brenvale::gui
