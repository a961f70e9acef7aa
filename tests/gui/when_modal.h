#pragma once
// Answers a modal dialog of the program from a test: the dialog runs its own event loop, so the
// answer is scheduled before the dialog opens.

#include <QApplication>
#include <QTimer>
#include <QWidget>

namespace brenvale::test {

// Runs `act` on the modal dialog of type D once it shows. `act` must close the dialog; one
// that stays open is rejected after a while, and a dialog of another type is closed, so a
// failing test ends instead of waiting forever.
template <class D, class F>
void whenModal(F act, int tries = 300) {
    QTimer::singleShot(10, qApp, [act, tries] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* d = qobject_cast<D*>(modal)) {
            act(*d);
            QTimer::singleShot(3000, d, [d] { d->reject(); });
            return;
        }
        if (tries > 0) {
            whenModal<D>(act, tries - 1);
        } else if (modal) {
            modal->close();
        }
    });
}

}  // namespace brenvale::test
