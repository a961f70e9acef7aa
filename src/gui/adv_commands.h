#pragma once
// The main window's commands of the advanced scan: "Advanced Scan", "Resume Adv Scan",
// "Stop (Save Scan Progress)", "Statistics" and "Adjust" with its dialog. The scans run on the
// window's worker; the rest are quick and run on the window's thread.

#include <QObject>
#include <QPointer>

#include <functional>

#include "app/shell.h"

class QAction;
class QWidget;

namespace brenvale::gui {

class AdjustDialog;

class AdvancedCommands : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        std::function<void(std::function<void()>)> runLong;  // on the worker
        std::function<void()> sync;                          // show what the shell holds
        std::function<int()> selectedRow;                    // the list's one selected row, or -1
        std::function<const app::ListRow*(int)> rowAt;       // the view's copy of a row
    };
    AdvancedCommands(QWidget* window, app::Shell& shell, Hooks hooks);

    QAction* advScan = nullptr;
    QAction* resumeAdvScan = nullptr;
    QAction* stopSave = nullptr;
    QAction* statistics = nullptr;
    QAction* adjust = nullptr;

    // Enables the actions for the shell's state; `running`: a command runs, `waiting`: one of
    // its dialogs is open.
    void update(bool running, bool waiting);
    // An advanced scan is about to run on the worker (chosen in the scan-method dialog).
    void scanStarting() { scanRunning_ = true; }
    // A command ended.
    void finished();
    AdjustDialog* adjustDialog() const;

private:
    void openAdjust();

    QWidget* window_;
    app::Shell& shell_;
    Hooks hooks_;
    bool scanRunning_ = false;  // the running command is an advanced scan
    QPointer<AdjustDialog> dialog_;
    app::TreeNode* dialogVolume_ = nullptr;
};

}  // namespace brenvale::gui
