#include "gui/gui_ui.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QThread>

#include "app/shell.h"
#include "gui/range_selector_dialog.h"
#include "gui/raw_recovery_window.h"
#include "gui/recovery_summary_dialog.h"
#include "gui/scan_mode_dialog.h"
#include "gui/search_dialog.h"

namespace brenvale::gui {

QString QtFileFilter(const std::string& filter) {
    // Pairs of description and pattern list; Qt only needs the descriptions, which hold the
    // patterns in parentheses.
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList out;
    for (qsizetype i = 0; i < parts.size(); i += 2) out << parts[i];
    return out.join(";;");
}

QString DisplayText(const std::string& text) {
    QString s = QString::fromStdString(text);
    s.replace("\r\n", "\n");
    s.replace('\r', '\n');
    return s;
}

GuiUi::GuiUi(QWidget* window) : window_(window) {}

template <class F>
auto GuiUi::onWindowThread(F f) -> decltype(f()) {
    using R = decltype(f());
    // Every call that comes here is a dialog: the window shows, while it is open, that the
    // command waits for the user rather than runs.
    const auto shown = [this, &f] {
        emit dialogShown(true);
        struct Closed {
            GuiUi& ui;
            ~Closed() { emit ui.dialogShown(false); }
        } closed{*this};
        return f();
    };
    if (QThread::currentThread() == thread()) return shown();
    if constexpr (std::is_void_v<R>) {
        QMetaObject::invokeMethod(this, shown, Qt::BlockingQueuedConnection);
    } else {
        R result{};
        QMetaObject::invokeMethod(this, [&] { result = shown(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

void GuiUi::ShowMessage(app::MessageKind kind, const std::string& text, const std::string& caption) {
    const QString t = DisplayText(text);
    const QString c = QString::fromStdString(caption.empty() ? std::string(app::kAppTitle) : caption);
    onWindowThread([&] { doShowMessage(kind, t, c); });
}

bool GuiUi::AskYesNo(const std::string& text) {
    const QString t = DisplayText(text);
    return onWindowThread([&] { return doAskYesNo(t); });
}

std::optional<app::SectorRange> GuiUi::ChooseRange(const app::SectorRange& proposed, std::uint32_t sectorSize,
                                                   std::uint64_t deviceSectors) {
    return onWindowThread([&] { return doChooseRange(proposed, sectorSize, deviceSectors); });
}

std::optional<std::string> GuiUi::ChooseFolder(const std::string& title, const std::string& initialDir) {
    const QString t = QString::fromStdString(title), d = QString::fromStdString(initialDir);
    return onWindowThread([&] { return doChooseFolder(t, d); });
}

std::optional<std::string> GuiUi::ChooseOpenFile(const std::string& title, const std::string& filter) {
    const QString t = QString::fromStdString(title), f = QtFileFilter(filter);
    return onWindowThread([&] { return doChooseOpenFile(t, f); });
}

std::optional<std::string> GuiUi::ChooseSaveFile(const std::string& title, const std::string& filter,
                                                 const std::string& defaultExt, const std::string& suggested) {
    const QString t = QString::fromStdString(title), f = QtFileFilter(filter), e = QString::fromStdString(defaultExt);
    const QString s = QString::fromStdString(suggested);
    return onWindowThread([&] { return doChooseSaveFile(t, f, e, s); });
}

int GuiUi::ChooseScanMode(const std::vector<app::ScanModeChoice>& choices) {
    return onWindowThread([&] { return doChooseScanMode(choices); });
}

std::optional<app::SearchCriteria> GuiUi::AskSearch() {
    return onWindowThread([&] { return doAskSearch(); });
}

void GuiUi::ShowRecoverySummary(const app::RecoverySummary& summary) {
    onWindowThread([&] { doShowRecoverySummary(summary); });
}

// ---- Progress and texts

void GuiUi::Progress(int percent) {
    std::lock_guard lock(mutex_);
    pendingPercent_ = percent;
    if (!flushQueued_) {
        flushQueued_ = true;
        QMetaObject::invokeMethod(this, &GuiUi::flush, Qt::QueuedConnection);
    }
}

void GuiUi::StatusText(const std::string& text) {
    std::lock_guard lock(mutex_);
    pendingStatus_ = QString::fromStdString(text);
    if (!flushQueued_) {
        flushQueued_ = true;
        QMetaObject::invokeMethod(this, &GuiUi::flush, Qt::QueuedConnection);
    }
}

void GuiUi::flush() {
    int percent;
    std::optional<QString> status;
    {
        std::lock_guard lock(mutex_);
        flushQueued_ = false;
        percent = pendingPercent_;
        status.swap(pendingStatus_);
    }
    if (percent >= 0 && percent != shownPercent_) {
        shownPercent_ = percent;
        emit progressChanged(percent);
    }
    if (status) emit statusTextChanged(*status);
}

void GuiUi::ShowStatusBar(const std::array<std::string, 4>& panels) {
    QStringList texts;
    for (const auto& p : panels) texts << QString::fromStdString(p);
    emit statusBarChanged(texts);
}

void GuiUi::ProgressVisible(bool visible) {
    if (visible) {
        std::lock_guard lock(mutex_);
        shownPercent_ = -1;  // a new bar shows its first value even when it repeats the last one
    }
    emit progressVisibleChanged(visible);
}

// ---- The dialogs

void GuiUi::doShowMessage(app::MessageKind kind, const QString& text, const QString& caption) {
    const auto icon = kind == app::MessageKind::Error     ? QMessageBox::Critical
                      : kind == app::MessageKind::Warning ? QMessageBox::Warning
                                                          : QMessageBox::Information;
    QMessageBox box(icon, caption, text, QMessageBox::Ok, window_);
    box.exec();
}

bool GuiUi::doAskYesNo(const QString& text) {
    return QMessageBox::question(window_, QString::fromUtf8(app::kAppTitle), text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

std::optional<app::SectorRange> GuiUi::doChooseRange(const app::SectorRange& proposed, std::uint32_t sectorSize,
                                                     std::uint64_t deviceSectors) {
    return gui::ChooseRange(window_, proposed, sectorSize, deviceSectors);
}

std::optional<std::string> GuiUi::doChooseFolder(const QString& title, const QString& initialDir) {
    const QString dir = QFileDialog::getExistingDirectory(window_, title, initialDir);
    if (dir.isEmpty()) return std::nullopt;
    return dir.toStdString();
}

std::optional<std::string> GuiUi::doChooseOpenFile(const QString& title, const QString& filter) {
    const QString file = QFileDialog::getOpenFileName(window_, title, {}, filter);
    if (file.isEmpty()) return std::nullopt;
    return file.toStdString();
}

std::optional<std::string> GuiUi::doChooseSaveFile(const QString& title, const QString& filter,
                                                   const QString& defaultExt, const QString& suggested) {
    QFileDialog dialog(window_, title, {}, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(defaultExt);
    if (!suggested.isEmpty()) {
        const QFileInfo proposed(suggested);
        dialog.setDirectory(proposed.absolutePath());
        dialog.selectFile(proposed.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
}

int GuiUi::doChooseScanMode(const std::vector<app::ScanModeChoice>& choices) {
    return gui::ChooseScanMode(window_, choices);
}

std::optional<app::SearchCriteria> GuiUi::doAskSearch() { return gui::AskSearch(window_); }

void GuiUi::doShowRecoverySummary(const app::RecoverySummary& summary) {
    RecoverySummaryDialog dialog(summary, window_);
    dialog.exec();
}

void GuiUi::ShowRawRecovery(app::RawRecoverySession& session) {
    onWindowThread([&] { gui::ShowRawRecovery(window_, session); });
}

}  // namespace brenvale::gui
