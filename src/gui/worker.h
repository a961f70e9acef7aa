#pragma once
// One thread for the long commands (scans, recovery, partition search, images, search), so the
// window keeps painting and answering while they run. One job at a time; the window refuses
// every other command until `finished` arrives.

#include <QObject>
#include <QThread>

#include <functional>

namespace brenvale::gui {

class Worker : public QObject {
    Q_OBJECT
public:
    explicit Worker(QObject* parent = nullptr);
    ~Worker() override;

    // Starts `job` on the worker thread; false when a job is still running.
    bool run(std::function<void()> job);
    bool busy() const { return busy_; }

signals:
    // On the window's thread, after the job returned (or threw: `error` then holds its message).
    void finished(const QString& error);

private:
    QThread thread_;
    QObject* context_ = nullptr;  // lives on thread_; jobs run in its event loop
    bool busy_ = false;
};

}  // namespace brenvale::gui
