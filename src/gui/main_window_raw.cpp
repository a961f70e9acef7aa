// The main window's "Raw Recovery" command: the window over the hits of the selected volume's
// completed advanced scan.

#include <QMenu>

#include "gui/main_window.h"

namespace brenvale::gui {

void MainWindow::setUpRawRecovery(QMenu* menu) {
    actRawRecovery = new QAction(QStringLiteral("Raw Recovery"), this);
    actRawRecovery->setToolTip(QStringLiteral("Files found by their content during the advanced scan, by type"));
    menu->addAction(actRawRecovery);
    // Modal and quick to open: it runs here, and its own thread reads the device.
    connect(actRawRecovery, &QAction::triggered, this, [this] {
        if (busy()) return;
        shell_->acRawRecovery();
        syncAll();
    });
}

}  // namespace brenvale::gui
