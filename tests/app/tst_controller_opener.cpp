// "Log In" through the desktop's real URL opener, with the engine searching
// on a network of its own and the window on a display of its own: the opener
// (and the browser or file manager it starts) inherits none of the finder's
// sockets, which used to keep the search ports after the window had gone.
#include "src/app/application_main.h"
#include "src/app/controller.h"
#include "tests/support/lab_simulator.h"
#include "tests/support/private_display.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Sockets among the descriptors listed by `ls -l /proc/PID/fd`.
int socketsIn(const QByteArray &listing)
{
    return int(listing.count("socket:["));
}

QByteArray socketsOfThisProcess()
{
    QByteArray listing;
    for (const QFileInfo &fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System))
        listing += fd.symLinkTarget().toUtf8() + '\n';
    return listing;
}

}  // namespace

class tst_ControllerOpener : public QObject
{
    Q_OBJECT

private slots:
    void theOpenerInheritsNoSocket();
};

void tst_ControllerOpener::theOpenerInheritsNoSocket()
{
    netlab::Lab lab;
    const netlab::Lan lan = lab.AddLan();
    netlab::Host &finder = lab.AddHost("finder", {{lan, "198.51.100.1/24"}});
    netlab::Host &shelf = lab.AddHost("shelf", {{lan, "198.51.100.10/24"}});
    LabSimulator simulator(shelf, {"--device", LabSimulator::Device("198.51.100.10", "atlas")});
    QVERIFY(simulator.ready());

    // An xdg-open of ours first on PATH notes the address and the descriptors
    // it was started with in xdg-open.record beside it.
    QTemporaryDir opener;
    QFile script(opener.filePath(QStringLiteral("xdg-open")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\n{ echo \"$1\"; ls -l /proc/$$/fd; } > \"$0.part\" && mv \"$0.part\" \"$0.record\"\n");
    script.close();
    script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    qputenv("PATH", opener.path().toLocal8Bit() + ':' + qgetenv("PATH"));

    std::unique_ptr<MainWindowLayout> layout;
    {
        netlab::Host::Inside inside(finder);
        layout = loadMainWindowLayout();
    }
    layout->window->show();
    Controller *controller = layout->controller;
    QTRY_COMPARE_WITH_TIMEOUT(controller->device()->rowCount(), 1, 11000);
    QVERIFY2(socketsIn(socketsOfThisProcess()) >= 3, "the engine searches on its sockets");
    while (!controller->loginbutton()->isEnabled())
        controller->getDeviceList();
    controller->tableview()->selectRow(0);
    QTest::mouseClick(controller->loginbutton(), Qt::LeftButton);

    QFile record(script.fileName() + QStringLiteral(".record"));
    QTRY_VERIFY_WITH_TIMEOUT(record.exists(), 10000);
    QVERIFY(record.open(QIODevice::ReadOnly));
    QCOMPARE(record.readLine(), QByteArray("http://198.51.100.10\n"));
    const QByteArray descriptors = record.readAll();
    QCOMPARE(socketsIn(descriptors), 0);
    layout->window->hide();
}

int main(int argc, char **argv)
{
    netlab::EnterPrivateNetwork();
    PrivateDisplay display;
    if (!display.started()) {
        std::fprintf(stderr, "tst_controller_opener: Xvfb did not start\n");
        return 1;
    }
    QApplication application(argc, argv);
    tst_ControllerOpener test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_controller_opener.moc"
