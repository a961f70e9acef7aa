// brenvale [IMAGE ...]: the desktop program. Images named on the command line are opened at
// start, as "Load Drive Image" would open them.

#include <QApplication>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QSplashScreen>

#include "app/config.h"
#include "gui/icons.h"
#include "gui/main_window.h"
#include "platform/drive_commands.h"
#include "platform/platform.h"

namespace {

using namespace brenvale;

QPixmap SplashPicture() {
    QPixmap pixmap(460, 260);
    pixmap.fill(QColor(250, 250, 250));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QColor(0, 151, 0));
    p.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
    p.drawPixmap(24, 24, gui::AppLogo(64));
    QFont title = p.font();
    title.setPointSize(20);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(40, 40, 40));
    p.drawText(QRect(104, 28, 330, 40), Qt::AlignVCenter, QString::fromUtf8(app::kAppTitle));
    QFont body = p.font();
    body.setPointSize(10);
    body.setBold(false);
    p.setFont(body);
    const char* lines[] = {"Recovers deleted files and folders;", "Recovers data from formatted drives;",
                           "Searchs lost partitions to recover files;", "Operates with drive images;",
                           "And more ..."};
    int y = 104;
    for (const char* line : lines) {
        p.drawText(QPoint(104, y), QString::fromUtf8(line));
        y += 22;
    }
    return pixmap;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName("Brenvale");
    QApplication::setApplicationDisplayName(QString::fromUtf8(app::kAppTitle));
    QApplication::setWindowIcon(QIcon(gui::AppLogo(64)));

    QSplashScreen splash(SplashPicture(), Qt::WindowStaysOnTopHint);
    splash.show();
    splash.showMessage("Initializing, please wait ...", Qt::AlignBottom | Qt::AlignHCenter);
    QApplication::processEvents();

    // The configuration: the user's file, created from the shipped one on the first start. A
    // file that cannot be made or read leaves the defaults in force and says so.
    app::Config config;
    app::ConfigDocument configDoc;
    std::string configPath, error;
    if (!app::EnsureConfigFile(configPath, error)) {
        splash.hide();
        QMessageBox::warning(nullptr, QString::fromUtf8(app::kAppTitle),
                             QString("Cannot create the configuration file: %1\nThe default settings are used.")
                                 .arg(QString::fromStdString(error)));
    } else if (!configDoc.Open(configPath) || !configDoc.Load(config)) {
        splash.hide();
        QMessageBox::warning(nullptr, QString::fromUtf8(app::kAppTitle),
                             QString("The configuration file \"%1\" could not be read completely (%2).\n"
                                     "The settings after that point keep their defaults.")
                                 .arg(QString::fromStdString(configPath), QString::fromStdString(configDoc.Error())));
    }

    auto os = platform::makeSystemPlatform();
    auto drives = platform::makeSystemDriveCommands();
    gui::MainWindow window(*os, config, &configDoc, nullptr, drives.get());
    window.start();
    for (const QString& path : application.arguments().mid(1)) window.openImage(path);
    window.showMaximized();
    splash.finish(&window);
    return application.exec();
}
