#include "gui/adv_commands.h"

#include <QAction>
#include <QApplication>
#include <QWidget>

#include "app/adv_extra.h"
#include "gui/adjust_dialog.h"

namespace brenvale::gui {

AdvancedCommands::AdvancedCommands(QWidget* window, app::Shell& shell, Hooks hooks)
    : window_(window), shell_(shell), hooks_(std::move(hooks)) {
    advScan = new QAction("Advanced Scan", this);
    resumeAdvScan = new QAction("Resume Adv Scan", this);
    stopSave = new QAction("Stop (Save Scan Progress)", this);
    statistics = new QAction("Statistics", this);
    adjust = new QAction("Adjust", this);
    stopSave->setEnabled(false);

    const auto scan = [this](void (app::Shell::*command)()) {
        return [this, command] {
            scanRunning_ = true;
            hooks_.runLong([this, command] { (shell_.*command)(); });
        };
    };
    connect(advScan, &QAction::triggered, this, scan(&app::Shell::acAdvScan));
    connect(resumeAdvScan, &QAction::triggered, this, scan(&app::Shell::acResumeAdvScan));
    connect(stopSave, &QAction::triggered, this, [this] { shell_.acStop1(); });
    connect(statistics, &QAction::triggered, this, [this] {
        if (shell_.ActionInProgress()) return;
        QApplication::setOverrideCursor(Qt::WaitCursor);
        shell_.acStatistics();
        QApplication::restoreOverrideCursor();
    });
    connect(adjust, &QAction::triggered, this, &AdvancedCommands::openAdjust);
}

void AdvancedCommands::update(bool running, bool waiting) {
    const app::CommandState c = running ? app::CommandState{} : shell_.Commands();
    advScan->setEnabled(c.AdvancedScan);
    resumeAdvScan->setEnabled(c.AdvancedScan);
    stopSave->setEnabled(running && scanRunning_ && !waiting);
    statistics->setEnabled(c.Statistics);
    adjust->setEnabled(c.Adjust && !dialog_);
    // The dialog corrects one volume: it goes when another one, or a result list, is shown.
    if (dialog_ && !running) {
        const app::TreeNode* selected = shell_.Selected();
        if (!selected || app::ListsResults(selected->Kind) || app::AdvVolumeNodeOf(selected) != dialogVolume_) dialog_->close();
    }
}

void AdvancedCommands::finished() { scanRunning_ = false; }

AdjustDialog* AdvancedCommands::adjustDialog() const { return dialog_; }

void AdvancedCommands::openAdjust() {
    if (shell_.ActionInProgress() || dialog_) return;
    app::TreeNode* volume = shell_.AdjustVolume();
    if (!volume) return;
    AdjustDialog::Hooks h;
    h.rowAt = hooks_.rowAt;
    h.selectedRow = hooks_.selectedRow;
    h.fullPath = [this, volume](const scan::TScanEntry* e) { return app::AdvGetFullPath(*volume, e); };
    h.fatType = [volume] { return volume->Adv ? volume->Adv->Adv->Fat.FatType : std::uint8_t{0}; };
    h.adjust = [this, volume](const scan::TScanEntry* a, const scan::TScanEntry* b) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const bool done = shell_.DoAdjust(volume, a, b);
        QApplication::restoreOverrideCursor();
        hooks_.sync();
        return done;
    };
    h.changeFsType = [this, volume] {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        shell_.DoChangeFsType(volume);
        QApplication::restoreOverrideCursor();
        hooks_.sync();
    };
    h.warn = [this](const std::string& text) { shell_.Ui().ShowMessage(app::MessageKind::Warning, text, app::kAppTitle); };
    dialogVolume_ = volume;
    dialog_ = new AdjustDialog(std::move(h), window_);
    connect(dialog_, &QObject::destroyed, this, [this] {
        dialogVolume_ = nullptr;
        hooks_.sync();
    });
    dialog_->show();
    adjust->setEnabled(false);
}

}  // namespace brenvale::gui
