// The window with every make, on a network of its own: a device of
// nasscout's protocol and NAS devices of other makes announced by real
// avahi-daemon responders, found through the finder's own avahi-daemon and
// bus; what "Log In" and "My storage" open for each.
#include "lab/avahi_daemons.h"
#include "src/app/application_main.h"
#include "src/app/controller.h"
#include "tests/support/lab_simulator.h"
#include "tests/support/private_network_qtest.h"

#include <QDesktopServices>
#include <QTableView>
#include <QUrl>

namespace {

const QStringList kOpenedSchemes = {"http", "https", "smb", "afp"};

}  // namespace

class tst_ControllerAllMakes : public QObject
{
    Q_OBJECT

public slots:
    // The desktop's URL opener, for the schemes the buttons open.
    void open(const QUrl &url) { opened << url.toString(); }

private slots:
    void opensWhatEachDeviceAdvertises();

private:
    QStringList opened;
};

// "Log In" opens a host's advertised page (its scheme, port and path), "My
// storage" its share (afp:// where AFP is its only file service); a path
// that would name another host is left out; the protocol's device, of a
// vendor listed only with every make, gets http://IP and smb://IP.
void tst_ControllerAllMakes::opensWhatEachDeviceAdvertises()
{
    netlab::Lab lab;
    const netlab::Lan lan = lab.AddLan();
    netlab::Host &finder = lab.AddHost("finder", {{lan, "198.51.100.1/24"}});
    netlab::Host &shelf = lab.AddHost("shelf", {{lan, "198.51.100.10/24"}});
    LabSimulator simulator(shelf, {"--device", LabSimulator::Device("198.51.100.10", "attic", "OBRANDA")});
    QVERIFY(simulator.ready());
    const auto desktop = netlab::AvahiDaemon::Desktop(finder);
    QVERIFY2(desktop->WaitReady(), desktop->Output().c_str());
    const std::vector<std::pair<std::string, std::vector<netlab::DnssdService>>> hosts = {
        {"nas-b", {{"_smb._tcp", "Office", 445, {}}, {"_http._tcp", "Office", 5000, {"path=/admin?x=1"}}}},
        {"nas-c", {{"_afpovertcp._tcp", "Backup", 548, {}}, {"_https._tcp", "Backup", 443, {}}}},
        {"nas-d", {{"_nfs._tcp", "Evil", 2049, {}}, {"_http._tcp", "Evil", 8080, {"path=//elsewhere.example/"}}}},
    };
    std::vector<std::unique_ptr<netlab::AvahiDaemon>> responders;
    for (std::size_t index = 0; index < hosts.size(); ++index) {
        const std::string ip = "198.51.100." + std::to_string(20 + index);
        netlab::Host &host = lab.AddHost(hosts[index].first, {{lan, ip + "/24"}});
        responders.push_back(netlab::AvahiDaemon::Responder(host, hosts[index].first, hosts[index].second));
        QVERIFY2(responders.back()->WaitReady(), responders.back()->Output().c_str());
    }
    for (const QString &scheme : kOpenedSchemes)
        QDesktopServices::setUrlHandler(scheme, this, "open");

    std::unique_ptr<MainWindowLayout> layout;
    {
        netlab::Host::Inside inside(finder);
        layout = loadMainWindowLayout(true);
    }
    Controller *controller = layout->controller;
    QTRY_COMPARE_WITH_TIMEOUT(controller->device()->rowCount(), 4, 11000);
    controller->tableview()->sortByColumn(1, Qt::AscendingOrder);
    for (int row = 0; row < 4; ++row) {
        controller->tableview()->selectRow(row);
        controller->onLogin();
        controller->onGotoStorage();
    }
    for (const QString &scheme : kOpenedSchemes)
        QDesktopServices::unsetUrlHandler(scheme);
    QCOMPARE(opened, QStringList({"http://198.51.100.10", "smb://198.51.100.10",  //
                                  "http://198.51.100.20:5000/admin?x=1", "smb://198.51.100.20",
                                  "https://198.51.100.21/", "afp://198.51.100.21",  //
                                  "http://198.51.100.22:8080/", "smb://198.51.100.22"}));
}

int main(int argc, char **argv)
{
    return RunQtTestInPrivateNetwork<tst_ControllerAllMakes>(argc, argv);
}

#include "tst_controller_all_makes.moc"
