// The "HDD Health Diagnosis" window and the health row of the properties page over scripted
// drives: what they show, and that the drives are asked on a worker thread, never on the
// window's.

#include <QComboBox>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include <thread>

#include "gui/health_window.h"
#include "gui/main_window.h"
#include "gui/pages.h"
#include "health/health_pages.h"
#include "platform/fake/fake_drive_commands.h"

using namespace brenvale;
using platform::AtaForm;
using platform::fake::FakeDrive;
using platform::fake::FormBehaviour;

namespace {

// sda answers with a pending sector; sdb takes no drive commands.
struct Drives {
    Drives() {
        FakeDrive sda;
        sda.forms = {{AtaForm::PassThrough16, FormBehaviour::Works}};
        sda.identify = test::IdentifyPage("HGST HTS721010A9E630", "JR1000D3ABCDEF", "JB0OA3U0");
        sda.smartData = test::SmartDataPage({{1, 100, 100, 0}, {9, 90, 90, 17000}, {12, 100, 100, 900},
                                             {194, 150, 150, 33}, {197, 100, 100, 4}});
        sda.smartThresholds = test::SmartThresholdPage({{1, 62}, {9, 0}, {12, 0}, {194, 0}, {197, 0}});
        add("sda", sda);
        add("sdb", FakeDrive{});
    }
    void add(const std::string& name, FakeDrive d) {
        platform::BlockDeviceInfo info;
        info.name = name;
        info.path = "/dev/" + name;
        os.whole.push_back(info);
        os.addDisk(info.path, std::vector<std::byte>(4096 * 512));
        commands.add(info.path, std::move(d));
    }
    platform::fake::FakePlatform os;
    platform::fake::FakeDriveCommands commands{os};
};

}  // namespace

class TestHealthWindow : public QObject {
    Q_OBJECT
private slots:
    void showsTheDrivesThatAnswerWithTheirAttributes() {
        Drives d;
        gui::HealthWindow w(d.os, d.commands);
        QSignalSpy read(&w, &gui::HealthWindow::driveListRead);
        w.show();
        QVERIFY(read.wait(5000));
        QCOMPARE(w.windowTitle(), QString("Brenvale - HDD Health Diagnosis"));
        QVERIFY(d.commands.drive("/dev/sda").lastThread != std::this_thread::get_id());

        QCOMPARE(w.driveBox()->count(), 1);
        QCOMPARE(w.driveBox()->itemText(0), QString("HGST HTS721010A9E630 [JR1000D3ABCDEF]"));
        QTreeWidget* list = w.attributeList();
        QCOMPARE(list->topLevelItemCount(), 5);
        QCOMPARE(list->headerItem()->text(5), QString("Raw Data"));
        const QTreeWidgetItem* pending = list->topLevelItem(4);
        QCOMPARE(pending->text(0), QString("Current Pending Sector Count"));
        QCOMPARE(pending->text(1), QString("C5"));
        QCOMPARE(pending->text(7), QString("Warning (raw > 0)"));
        QCOMPARE(list->topLevelItem(3)->text(6), QString("33 Deg. Celsius"));
        QCOMPARE(w.statusLine()->text(),
                 QString(" S.M.A.R.T reported some attributes are closing to their threshold, please backup your "
                         "important data."));

        list->setCurrentItem(list->topLevelItem(3));
        QVERIFY(w.descriptionLabel()->text().startsWith("Temperature (C2)\nTemperature of a drive."));
    }

    void saysSoWhenNoDriveAnswers() {
        Drives d;
        d.commands.drive("/dev/sda").forms.clear();
        gui::HealthWindow w(d.os, d.commands);
        QSignalSpy read(&w, &gui::HealthWindow::driveListRead);
        w.show();
        QVERIFY(read.wait(5000));
        QCOMPARE(w.driveBox()->count(), 0);
        QCOMPARE(w.attributeList()->topLevelItemCount(), 0);
        QCOMPARE(w.statusLine()->text(),
                 QString("No SMART attributes read: this device or bridge chip does not return valid SMART data"));

        // Drives that cannot even be opened say that instead.
        d.commands.drive("/dev/sda").openError = 1;
        d.commands.drive("/dev/sdb").openError = 1;
        w.refresh();
        QVERIFY(read.wait(5000));
        QCOMPARE(w.statusLine()->text(), QString("Cannot open the device handle - SMART cannot be read"));
    }

    void propertiesHealthRowIsFilledFromTheWorker() {
        Drives d;
        app::Config config;
        gui::MainWindow window(d.os, config, nullptr, nullptr, &d.commands);
        window.start({}, {0x80, 0x81});
        app::TreeNode* disk = nullptr;
        for (auto& child : window.shell().Tree().Root()->Children) {
            if (child->Kind == app::NodeKind::Disk && child->Drive && child->Drive->Device &&
                child->Drive->Device->DeviceNum() == 0x80) {
                disk = child.get();
            }
        }
        QVERIFY(disk);
        QVERIFY(window.selectNode(disk));
        const auto healthValue = [&]() -> QString {
            QTreeWidget* page = window.propertiesPage();
            for (int i = 0; i < page->topLevelItemCount(); ++i) {
                if (page->topLevelItem(i)->text(0) == "Health") return page->topLevelItem(i)->text(1);
            }
            return "(none)";
        };
        QTRY_COMPARE_WITH_TIMEOUT(healthValue(), QString("Warning - Current Pending Sector Count"), 5000);
        QVERIFY(d.commands.drive("/dev/sda").lastThread != std::this_thread::get_id());
    }
};

QTEST_MAIN(TestHealthWindow)
#include "tst_health_window.moc"
