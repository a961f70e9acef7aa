#include "gui/worker.h"

#include <exception>

namespace brenvale::gui {

Worker::Worker(QObject* parent) : QObject(parent) {
    thread_.setObjectName("brenvale-worker");
    context_ = new QObject;  // owned by the thread: deleted when it finishes
    context_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, context_, &QObject::deleteLater);
    thread_.start();
}

Worker::~Worker() {
    thread_.quit();
    thread_.wait();
}

bool Worker::run(std::function<void()> job) {
    if (busy_) return false;
    busy_ = true;
    QMetaObject::invokeMethod(
        context_,
        [this, job = std::move(job)] {
            QString error;
            try {
                job();
            } catch (const std::exception& e) {
                error = QString::fromUtf8(e.what());
            } catch (...) {
                error = QStringLiteral("Unknown error.");
            }
            QMetaObject::invokeMethod(
                this,
                [this, error] {
                    busy_ = false;
                    emit finished(error);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    return true;
}

}  // namespace brenvale::gui
