#pragma once
// The desktop program's answer to what the commands ask: dialogs and message boxes on the
// window's thread, and progress and status texts for the status bar. A command running on the
// worker thread calls in from there: questions block the worker (never the window) until the
// user has answered; progress and texts are coalesced and delivered as queued calls, so a
// scan that reports thousands of folders cannot flood the event loop.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <mutex>

#include "app/user_interface.h"

namespace brenvale::gui {

// "Drive image file (*.dif)|*.dif|Raw (*.img)|*.img" as a Qt file-dialog filter.
QString QtFileFilter(const std::string& filter);
// Message texts use CR LF and lone CR as line breaks; Qt wants LF.
QString DisplayText(const std::string& text);

class GuiUi : public QObject, public app::UserInterface {
    Q_OBJECT
public:
    explicit GuiUi(QWidget* window = nullptr);
    // The window that owns the dialogs.
    void setWindow(QWidget* window) { window_ = window; }

    void ShowMessage(app::MessageKind kind, const std::string& text, const std::string& caption) override;
    bool AskYesNo(const std::string& text) override;
    std::optional<app::SectorRange> ChooseRange(const app::SectorRange& proposed, std::uint32_t sectorSize,
                                                std::uint64_t deviceSectors) override;
    std::optional<std::string> ChooseFolder(const std::string& title, const std::string& initialDir) override;
    std::optional<std::string> ChooseOpenFile(const std::string& title, const std::string& filter) override;
    std::optional<std::string> ChooseSaveFile(const std::string& title, const std::string& filter,
                                              const std::string& defaultExt, const std::string& suggested = {}) override;
    int ChooseScanMode(const std::vector<app::ScanModeChoice>& choices) override;
    std::optional<app::SearchCriteria> AskSearch() override;
    void ShowRecoverySummary(const app::RecoverySummary& summary) override;

    void Progress(int percent) override;
    void StatusText(const std::string& text) override;
    void ShowStatusBar(const std::array<std::string, 4>& panels) override;
    void ProgressVisible(bool visible) override;
    void ShowRawRecovery(app::RawRecoverySession& session) override;

signals:
    void progressChanged(int percent);
    void statusTextChanged(const QString& text);
    void statusBarChanged(const QStringList& panels);
    void progressVisibleChanged(bool visible);
    // A dialog of the program opens (true) or closes (false); while one is open nothing runs.
    void dialogShown(bool open);

protected:
    // The dialogs themselves, always on the window's thread. Tests override them to answer
    // without a person.
    virtual void doShowMessage(app::MessageKind kind, const QString& text, const QString& caption);
    virtual bool doAskYesNo(const QString& text);
    virtual std::optional<app::SectorRange> doChooseRange(const app::SectorRange& proposed, std::uint32_t sectorSize,
                                                          std::uint64_t deviceSectors);
    virtual std::optional<std::string> doChooseFolder(const QString& title, const QString& initialDir);
    virtual std::optional<std::string> doChooseOpenFile(const QString& title, const QString& filter);
    virtual std::optional<std::string> doChooseSaveFile(const QString& title, const QString& filter,
                                                        const QString& defaultExt, const QString& suggested);
    virtual int doChooseScanMode(const std::vector<app::ScanModeChoice>& choices);
    virtual std::optional<app::SearchCriteria> doAskSearch();
    virtual void doShowRecoverySummary(const app::RecoverySummary& summary);

    QWidget* window() const { return window_; }

private:
    // Runs `f` on the window's thread and returns its result; from the worker it blocks until
    // the call has run.
    template <class F>
    auto onWindowThread(F f) -> decltype(f());
    void flush();  // delivers the coalesced progress and status text

    QPointer<QWidget> window_;
    std::mutex mutex_;
    bool flushQueued_ = false;
    int pendingPercent_ = -1;
    int shownPercent_ = -1;
    std::optional<QString> pendingStatus_;
};

}  // namespace brenvale::gui
