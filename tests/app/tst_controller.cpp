// The device list window driven as its timer and its user would: the search
// window's countdown, the table against the store, the two buttons that open
// a device, the language, the keyboard and the close.
#include "src/app/application_main.h"
#include "src/app/controller.h"
#include "src/store/device_store.h"
#include "src/texts/language_choice.h"
#include "src/texts/parse_operation.h"
#include "tests/support/private_network_qtest.h"

#include <QAccessible>
#include <QDesktopServices>
#include <QFile>
#include <QFontInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QRawFont>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTimer>

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace {

// Started with this argument, the program runs the real application and
// closes its window as soon as the main loop runs.
constexpr char kCloseWindowChild[] = "--close-the-window-child";

// Stands in for the desktop's URL opener, so no test ever starts a browser.
class UrlRecorder : public QObject
{
    Q_OBJECT

public:
    QStringList opened;

public slots:
    void open(const QUrl &url) { opened << url.toString(); }
};

// A listed vendor's device at `ip`, reported as the engine would.
void Report(const QString &ip, const QString &host)
{
    deviceinfo device;
    std::strncpy(device.ip, qPrintable(ip), DEVICEINFO_TEXT_SIZE - 1);
    std::strncpy(device.host, qPrintable(host), DEVICEINFO_TEXT_SIZE - 1);
    std::strncpy(device.id, qPrintable(host), DEVICEINFO_TEXT_SIZE - 1);
    std::strcpy(device.product, "NS200");
    std::strcpy(device.factory, "ZORVA");
    AddDevice(GetDeviceStore(), &device);
}

QMessageBox *visibleAlert()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
            return box;
    }
    return nullptr;
}

}  // namespace

class tst_Controller : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void countsDownWhileSearching();
    void tableFollowsTheStoreOnlyWhileSearching();
    void opensTheOneSelectedDevice_data();
    void opensTheOneSelectedDevice();
    void sortsTextsIgnoringCaseAndAddressesByNumber();
    void warnsOfAnIncompleteLanguageTable_data();
    void warnsOfAnIncompleteLanguageTable();
    void everyLanguageIsCompleteAndFitsTheWindow_data();
    void everyLanguageIsCompleteAndFitsTheWindow();
    void usableFromKeyboardAndAssistiveTechnology();
    void closingTheWindowEndsTheProcessWithStatus1();

private:
    void tick(int times = 1);
    // Ticks through the rest of the search window; the buttons are enabled after.
    void finishSearchWindow() { tick(Controller::kSearchWindowTicks + 1 - controller->counter()); }
    // One column as the user sees it, top to bottom.
    QStringList shownColumn(int column) const;
    bool buttonsEnabled() const;
    // Hands the controller a language table parsed from `xml` and announces it.
    void applyLanguage(const QByteArray &xml);

    UrlRecorder opener;
    std::unique_ptr<MainWindowLayout> layout;
    Controller *controller = nullptr;
};

void tst_Controller::initTestCase()
{
    // Port 67 taken, as it is for a user without the right to bind it: every
    // window below runs with a broadcast search that could not start. The
    // socket stays open until the process ends.
    const int portBlocker = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in broadcastPort{};
    broadcastPort.sin_family = AF_INET;
    broadcastPort.sin_port = htons(67);
    QVERIFY(bind(portBlocker, reinterpret_cast<const sockaddr *>(&broadcastPort), sizeof broadcastPort) == 0);

    QDesktopServices::setUrlHandler(QStringLiteral("http"), &opener, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("smb"), &opener, "open");
}

// A window as the program shows it, with its language applied and its timer
// stopped: the tests tick it themselves.
void tst_Controller::init()
{
    ClearDeviceList(GetDeviceStore());
    opener.opened.clear();
    layout = loadMainWindowLayout();
    controller = layout->controller;
    controller->mytimer()->stop();
    layout->window->show();
    QVERIFY(QTest::qWaitForWindowExposed(layout->window.get()));
    QVERIFY(controller->parseOperation());
    QTRY_VERIFY(!controller->parseOperation()->currentParseBatchDic().isEmpty());
}

void tst_Controller::cleanup()
{
    while (QMessageBox *alert = visibleAlert())
        delete alert;
    // Hiding sends no close, which would end the test process.
    layout->window->hide();
    layout.reset();
    ClearDeviceList(GetDeviceStore());
}

void tst_Controller::tick(int times)
{
    for (int i = 0; i < times; ++i)
        controller->getDeviceList();
}

QStringList tst_Controller::shownColumn(int column) const
{
    const QAbstractItemModel *table = controller->tableview()->model();
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << table->index(row, column).data().toString();
    return texts;
}

// Whether the three buttons are on; they always change together.
bool tst_Controller::buttonsEnabled() const
{
    const bool login = controller->loginbutton()->isEnabled();
    if (controller->refreshbutton()->isEnabled() != login || controller->storagebutton()->isEnabled() != login)
        qFatal("the three buttons disagree");
    return login;
}

void tst_Controller::applyLanguage(const QByteArray &xml)
{
    auto *operation = new ParseOperation(xml, controller);
    controller->setParseOperation(operation);
    controller->parseQueue()->start(operation);
    QTRY_VERIFY(!operation->currentParseBatchDic().isEmpty());
}

void tst_Controller::countsDownWhileSearching()
{
    QSignalSpy ended(controller, &Controller::searchWindowEnded);
    QVERIFY(!buttonsEnabled());

    QStringList countdowns;
    QList<bool> enabled;
    for (int i = 0; i < 13; ++i) {
        tick();
        countdowns << controller->countdownField()->text();
        enabled << buttonsEnabled();
    }

    QStringList expected;
    for (int left = 10; left >= 0; --left)
        expected << QStringLiteral("Time left: %1").arg(left);
    expected << QString() << QString();
    QCOMPARE(countdowns, expected);
    QCOMPARE(enabled, QList<bool>(11, false) << true << true);
    QCOMPARE(ended.count(), 1);
    QCOMPARE(shownColumn(1), QStringList());
}

void tst_Controller::tableFollowsTheStoreOnlyWhileSearching()
{
    Report("198.51.100.10", "atlas");
    tick();
    QCOMPARE(shownColumn(0), QStringList{"atlas"});

    // Regression: with one device leaving and another arriving between two
    // ticks, the count stays the same and the one that left stayed listed.
    deviceinfo leaving;
    std::strcpy(leaving.id, "atlas");
    RemoveDevice(GetDeviceStore(), &leaving);
    Report("198.51.100.11", "vault");
    tick();
    QCOMPARE(shownColumn(0), QStringList{"vault"});

    // A rebuild keeps the row the user selected.
    controller->tableview()->selectRow(0);
    Report("198.51.100.9", "annex");
    tick();
    QCOMPARE(shownColumn(0), QStringList({"vault", "annex"}));
    const QModelIndexList selected = controller->tableview()->selectionModel()->selectedRows();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.constFirst().data().toString(), QStringLiteral("vault"));

    // Idle: the table keeps what the search window ended with.
    finishSearchWindow();
    Report("198.51.100.12", "cellar");
    tick();
    QCOMPARE(shownColumn(0), QStringList({"vault", "annex"}));

    QTest::mouseClick(controller->refreshbutton(), Qt::LeftButton);
    QCOMPARE(shownColumn(0), QStringList());
    std::vector<deviceinfo> stored;
    CopyDeviceList(GetDeviceStore(), stored);
    QVERIFY(stored.empty());
    QVERIFY(!buttonsEnabled());
    QCOMPARE(controller->counter(), 0);

    Report("198.51.100.12", "cellar");
    tick();
    QCOMPARE(shownColumn(0), QStringList{"cellar"});
    QCOMPARE(controller->countdownField()->text(), QStringLiteral("Time left: 10"));
}

void tst_Controller::opensTheOneSelectedDevice_data()
{
    QTest::addColumn<QStringList>("ips");
    QTest::addColumn<int>("sortColumn");
    QTest::addColumn<Qt::SortOrder>("order");
    QTest::addColumn<QList<int>>("selectedRows");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("opened");

    const QStringList three = {"198.51.100.9", "198.51.100.10", "198.51.100.200"};
    QTest::newRow("nothing selected") << three << -1 << Qt::AscendingOrder << QList<int>{} << "Log In" << "";
    QTest::newRow("two rows selected") << three << -1 << Qt::AscendingOrder << QList<int>{0, 2} << "Log In" << "";
    QTest::newRow("Log In opens the web page")
        << three << -1 << Qt::AscendingOrder << QList<int>{1} << "Log In" << "http://198.51.100.10";
    QTest::newRow("My storage opens the file share")
        << three << -1 << Qt::AscendingOrder << QList<int>{0} << "My storage" << "smb://198.51.100.9";
    // Hosts run backwards to the store's order, and addresses sort by number.
    QTest::newRow("sorted by host") << three << 0 << Qt::AscendingOrder << QList<int>{0} << "Log In"
                                    << "http://198.51.100.200";
    QTest::newRow("sorted by address, descending")
        << three << 1 << Qt::DescendingOrder << QList<int>{2} << "My storage" << "smb://198.51.100.9";

    // The "IP" text comes from the network: nothing but the dotted address of
    // a device opens, never this machine, a broadcast or a multicast group.
    for (const char *hostile : {"127.1", "0x7f.0.0.1", "01.2.3.4", "1.2.3.4:8080", "1.2.3.4/admin", "256.1.2.3",
                                "1.2.3.4 ", "1.2.3.4.5", "nas.example", "user@1.2.3.4", "", "127.0.0.1",
                                "0.0.0.0", "255.255.255.255", "224.0.0.251"}) {
        QTest::addRow("hostile \"%s\"", hostile)
            << QStringList{QString::fromLatin1(hostile)} << -1 << Qt::AscendingOrder << QList<int>{0} << "Log In"
            << "";
    }
}

void tst_Controller::opensTheOneSelectedDevice()
{
    QFETCH(QStringList, ips);
    QFETCH(int, sortColumn);
    QFETCH(Qt::SortOrder, order);
    QFETCH(QList<int>, selectedRows);
    QFETCH(QString, button);
    QFETCH(QString, opened);

    for (int i = 0; i < ips.size(); ++i)
        Report(ips[i], QStringLiteral("nas-%1").arg(QChar(u'z' - i)));
    finishSearchWindow();
    QVERIFY(buttonsEnabled());
    if (sortColumn >= 0) {
        QTest::ignoreMessage(QtInfoMsg, "count=11111");
        controller->tableview()->sortByColumn(sortColumn, order);
    }
    QAbstractItemModel *table = controller->tableview()->model();
    for (int row : selectedRows) {
        controller->tableview()->selectionModel()->select(
            table->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }

    QTest::mouseClick(button == "Log In" ? controller->loginbutton() : controller->storagebutton(),
                      Qt::LeftButton);

    QCOMPARE(opener.opened, opened.isEmpty() ? QStringList() : QStringList{opened});
}

// A header click sorts by the column; a third returns to the order found.
void tst_Controller::sortsTextsIgnoringCaseAndAddressesByNumber()
{
    Report(QStringLiteral("198.51.100.10"), QStringLiteral("Beta"));
    Report(QStringLiteral("198.51.100.9"), QStringLiteral("alpha"));
    Report(QStringLiteral("198.51.100.200"), QStringLiteral("Gamma"));
    tick();
    QHeaderView *header = controller->tableview()->horizontalHeader();
    QTest::ignoreMessage(QtInfoMsg, "count=11111");
    header->setSortIndicator(0, Qt::AscendingOrder);
    QCOMPARE(shownColumn(0), QStringList({"alpha", "Beta", "Gamma"}));
    QTest::ignoreMessage(QtInfoMsg, "count=11111");
    header->setSortIndicator(1, Qt::DescendingOrder);
    QCOMPARE(shownColumn(0), QStringList({"Gamma", "Beta", "alpha"}));
    QTest::ignoreMessage(QtInfoMsg, "count=11111");
    header->setSortIndicator(-1, Qt::AscendingOrder);
    QCOMPARE(shownColumn(0), QStringList({"Beta", "alpha", "Gamma"}));
}

void tst_Controller::warnsOfAnIncompleteLanguageTable_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<bool>("alert");
    QTest::newRow("4 entries") << 4 << true;
    QTest::newRow("5 entries") << 5 << false;
}

void tst_Controller::warnsOfAnIncompleteLanguageTable()
{
    QFETCH(int, entries);
    QFETCH(bool, alert);

    const QStringList keys = {"List1", "Log In", "Device List", "Search Time", "List2"};
    const QFont layoutFont = controller->loginbutton()->font();
    QByteArray xml = "<LanguageCFG>";
    for (const QString &key : keys.mid(0, entries))
        xml += "<NODE><KEY KeyString=\"" + key.toUtf8() + "\" String=\"T-" + key.toUtf8() + "\"/></NODE>";
    applyLanguage(xml + "</LanguageCFG>");

    QMessageBox *box = visibleAlert();
    QCOMPARE(box != nullptr, alert);
    if (box) {
        QCOMPARE(QStringList({box->text(), box->informativeText(), box->buttons().constFirst()->text()}),
                 QStringList({"aaa", "bbb", "OK"}));
        QVERIFY(!box->isModal());
    }
    // Applied as far as the table goes, with or without the alert.
    QCOMPARE(controller->tableview()->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("T-List1"));
    QCOMPARE(controller->loginbutton()->text(), QStringLiteral("T-Log In"));
    QCOMPARE(controller->deviceListField()->text(), QStringLiteral("T-Device List"));
    QCOMPARE(controller->refreshbutton()->text(), QStringLiteral("Refresh"));
    // The entries name no font and no size: the control keeps the one it had.
    QCOMPARE(controller->loginbutton()->font(), layoutFont);
}

void tst_Controller::everyLanguageIsCompleteAndFitsTheWindow_data()
{
    QTest::addColumn<QString>("resource");
    for (const char *name : {"XML_de", "XML_fr", "XML_es", "XML_it", "XML_ja", "XML_ch", "XML_en"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

// Each shipped language names every text the window shows, in a font that
// has all its characters, and the default window holds it without cutting
// anything off: German has the longest texts, the CJK fonts the tallest.
void tst_Controller::everyLanguageIsCompleteAndFitsTheWindow()
{
    QFETCH(QString, resource);
    QFile file(languageResourcePath(resource));
    QVERIFY(file.open(QIODevice::ReadOnly));
    applyLanguage(file.readAll());
    const LanguageTable &table = controller->parseOperation()->currentParseBatchDic();
    tick();

    const QStringList keys = {"List1", "List2", "List3", "Log In", "My storage", "Refresh", "Device List", "Search Time"};
    QCOMPARE(table.size(), keys.size());
    for (const QString &key : keys) {
        const FontNode entry = table.value(key);
        QVERIFY2(!entry.String.trimmed().isEmpty() && entry.pointSize() >= 9 && entry.pointSize() <= 20, qPrintable(key));
        // The named font itself draws the text, not whatever fallback Qt finds.
        const QFont font = entry.font(QFont());
        QCOMPARE(QFontInfo(font).family(), entry.Font);
        const QRawFont raw = QRawFont::fromFont(font);
        for (char32_t c : entry.String.toUcs4())
            QVERIFY2(raw.supportsCharacter(c), qPrintable(key + ": " + entry.String));
    }
    QCOMPARE(controller->loginbutton()->font().family(), table.value("Log In").Font);
    QCOMPARE(controller->countdownField()->text(), table.value("Search Time").String + " 10");
    const QList<QWidget *> controls = {controller->loginbutton(), controller->refreshbutton(),
                                       controller->storagebutton(), controller->countdownField(),
                                       controller->deviceListField()};
    // Neither text nor control is cut: each has at least the room it asks for.
    for (QWidget *control : controls)
        QTRY_VERIFY2(control->width() >= control->sizeHint().width()
                         && control->height() >= control->sizeHint().height(),
                     qPrintable(control->objectName()));
    const QHeaderView *header = controller->tableview()->horizontalHeader();
    for (int column = 0; column < 3; ++column) {
        const QVariant font = header->model()->headerData(column, Qt::Horizontal, Qt::FontRole);
        const QString title = header->model()->headerData(column, Qt::Horizontal).toString();
        QVERIFY2(header->sectionSize(column) > QFontMetrics(font.value<QFont>()).horizontalAdvance(title),
                 qPrintable(title));
    }
}

void tst_Controller::usableFromKeyboardAndAssistiveTechnology()
{
    Report("198.51.100.10", "atlas");
    Report("198.51.100.11", "vault");
    finishSearchWindow();
    QApplication::setActiveWindow(layout->window.get());
    QVERIFY(QTest::qWaitForWindowActive(layout->window.get()));

    QTableView *table = controller->tableview();
    table->setFocus();
    QTest::keyClick(table, Qt::Key_Down);
    QTest::keyClick(table, Qt::Key_Down);
    QCOMPARE(table->selectionModel()->selectedRows().size(), 1);
    QCOMPARE(table->selectionModel()->selectedRows().constFirst().row(), 1);
    for (QPushButton *next : {controller->loginbutton(), controller->storagebutton(), controller->refreshbutton()}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
    QTest::keyClick(controller->loginbutton(), Qt::Key_Space);
    QCOMPARE(opener.opened, QStringList{"http://198.51.100.11"});

    for (QPushButton *button : {controller->loginbutton(), controller->refreshbutton(), controller->storagebutton()})
        QCOMPARE(QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name), button->text());
    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(table);
    QCOMPARE(list->text(QAccessible::Name), controller->deviceListField()->text());
    QAccessibleTableInterface *cells = list->tableInterface();
    QVERIFY(cells);
    QCOMPARE(cells->rowCount(), 2);
    QCOMPARE(cells->cellAt(1, 1)->text(QAccessible::Name), QStringLiteral("198.51.100.11"));
    QCOMPARE(cells->columnDescription(1), QStringLiteral("IP Address"));
}

void tst_Controller::closingTheWindowEndsTheProcessWithStatus1()
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {kCloseWindowChild});
    QVERIFY(child.waitForFinished(60000));

    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), 1);
    // The shell's two lines in order, and the language route's for the
    // environment's LANGUAGE=en:fr, which comes before LANG=de_DE.UTF-8.
    QStringList startLines;
    for (const QByteArray &line : child.readAllStandardError().split('\n')) {
        if (line.startsWith("application") || line.startsWith("current=") || line.startsWith("fileToOpen"))
            startLines << QString::fromUtf8(line);
    }
    QCOMPARE(startLines, QStringList({"application awakeFromNib........", "current=en",
                                      "fileToOpen = :/languages/XML_en.xml", "applicationDidFinishLaunching........"}));

    // Without a display Qt used to abort (134) with a screenful; now one line and 3.
    QProcessEnvironment withoutDisplay = QProcessEnvironment::systemEnvironment();
    withoutDisplay.remove(QStringLiteral("DISPLAY"));
    withoutDisplay.remove(QStringLiteral("WAYLAND_DISPLAY"));
    withoutDisplay.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    child.setProcessEnvironment(withoutDisplay);
    child.start(QCoreApplication::applicationFilePath(), {kCloseWindowChild});
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitCode(), 3);
    QStringList said = QString::fromUtf8(child.readAllStandardError()).split(QLatin1Char('\n'));
    said = said.filter(QStringLiteral("nasscout:"));
    QCOMPARE(said, QStringList{"nasscout: cannot open the window: no display (DISPLAY is not set); "
                               "QT_QPA_PLATFORM=offscreen runs it without one"});
}

namespace {

void closeTheMainWindowOnceRunning()
{
    QTimer::singleShot(0, [] {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<QMainWindow *>(widget))
                widget->close();
        }
    });
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && std::strcmp(argv[1], kCloseWindowChild) == 0) {
        netlab::EnterPrivateNetwork();
        qAddPreRoutine(closeTheMainWindowOnceRunning);
        static int applicationArgc = 1;
        return applicationMain(applicationArgc, argv);
    }
    return RunQtTestInPrivateNetwork<tst_Controller>(argc, argv);
}

#include "tst_controller.moc"
