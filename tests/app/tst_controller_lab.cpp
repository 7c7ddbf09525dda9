// The window on a network of its own: nasscout-sim's devices across a
// bridge, found by the engine the window starts, shown and rendered.
#include "src/app/application_main.h"
#include "src/app/controller.h"
#include "tests/support/lab_simulator.h"
#include "tests/support/private_network_qtest.h"

#include <QTableView>

class tst_ControllerLab : public QObject
{
    Q_OBJECT

private slots:
    void rendersTheDevicesOfTheNetwork();
};

void tst_ControllerLab::rendersTheDevicesOfTheNetwork()
{
    netlab::Lab lab;
    const netlab::Lan lan = lab.AddLan();
    netlab::Host &finder = lab.AddHost("finder", {{lan, "198.51.100.1/24"}});
    netlab::Host &shelf = lab.AddHost("shelf", {{lan, "198.51.100.10/24"}});
    shelf.AddAddresses({"198.51.100.11/24", "198.51.100.12/24"});
    LabSimulator simulator(shelf, {"--device", LabSimulator::Device("198.51.100.10", "atlas"),  //
                                   "--device", LabSimulator::Device("198.51.100.11", "vault", "quenda"),
                                   "--device", LabSimulator::Device("198.51.100.12", "attic", "OBRANDA")});
    QVERIFY(simulator.ready());

    std::unique_ptr<MainWindowLayout> layout;
    {
        // The engine's sockets and threads belong to the finder host.
        netlab::Host::Inside inside(finder);
        layout = loadMainWindowLayout();
    }
    // The background is there before the first event is handled.
    QCOMPARE(layout->window->grab().toImage().pixelColor(2, 2), QColor(84, 105, 138));

    layout->window->show();
    Controller *controller = layout->controller;
    QTRY_COMPARE_WITH_TIMEOUT(controller->device()->rowCount(), 2, 11000);
    // The listed vendors, one in lower case; the stranger is not shown.
    controller->tableview()->sortByColumn(1, Qt::AscendingOrder);
    const QAbstractItemModel *table = controller->tableview()->model();
    QCOMPARE(QStringList({table->index(0, 0).data().toString(), table->index(1, 0).data().toString()}),
             QStringList({"host-atlas", "host-vault"}));

    const QString picture = QStringLiteral(NASSCOUT_RENDER_DIR "/nasscout-window.png");
    QVERIFY2(layout->window->grab().save(picture, "PNG"), qPrintable(picture));
    layout->window->hide();
}

int main(int argc, char **argv)
{
    return RunQtTestInPrivateNetwork<tst_ControllerLab>(argc, argv);
}

#include "tst_controller_lab.moc"
