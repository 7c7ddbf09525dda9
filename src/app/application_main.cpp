#include "application_main.h"

#include "app_delegate.h"
#include "controller.h"
#include "engine/untrusted/printable_text.h"
#include "src/store/device_store.h"
#include "ui_device_list_window.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QHeaderView>
#include <QKeySequence>
#include <QShortcut>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// The rows as the table shows them (sorted as the user sorted), under the
// column titles, as text aligned by the cells a terminal gives each character.
std::string tableText(const QAbstractItemModel &table)
{
    const int columns = table.columnCount();
    std::vector<std::vector<std::string>> lines(1);
    for (int column = 0; column < columns; ++column)
        lines[0].push_back(table.headerData(column, Qt::Horizontal).toString().toStdString());
    for (int row = 0; row < table.rowCount(); ++row) {
        lines.emplace_back();
        for (int column = 0; column < columns; ++column)  // the cells are printable already
            lines.back().push_back(table.index(row, column).data().toString().toStdString());
    }
    std::vector<std::size_t> widths(std::size_t(columns), 0);
    for (const auto &cells : lines) {
        for (std::size_t column = 0; column < cells.size(); ++column)
            widths[column] = std::max(widths[column], printable::DisplayWidth(cells[column]));
    }
    std::string text;
    for (const auto &cells : lines) {
        std::string line;
        for (std::size_t column = 0; column < cells.size(); ++column) {
            line += cells[column];
            if (column + 1 < cells.size())
                line.append(widths[column] - printable::DisplayWidth(cells[column]) + 2, ' ');
        }
        text += line.substr(0, line.find_last_not_of(' ') + 1) + '\n';
    }
    return text;
}

// After the search window: a picture of the window to `file`, the table's
// text to standard output, and the end of the main loop (1 when the picture
// could not be saved).
void saveScreenshotAndQuit(const MainWindowLayout &layout, const QString &file)
{
    const bool saved = layout.window->grab().save(file, "PNG");
    if (!saved)
        std::fprintf(stderr, "nasscout: cannot save the screenshot to %s\n", qUtf8Printable(file));
    FlushVendorLines(kLastVendorLinesWait);  // not in the middle of the table
    std::fputs(tableText(*layout.ui->tableview->model()).c_str(), stdout);
    std::fflush(stdout);
    QCoreApplication::exit(saved ? 0 : 1);
}

}  // namespace

MainWindowLayout::MainWindowLayout() : ui(std::make_unique<Ui::DeviceListWindow>()) {}

MainWindowLayout::~MainWindowLayout() = default;

std::unique_ptr<MainWindowLayout> loadMainWindowLayout(bool allMakes)
{
    auto layout = std::make_unique<MainWindowLayout>();
    QMainWindow *window = new QMainWindow;
    layout->window.reset(window);
    Ui::DeviceListWindow &ui = *layout->ui;
    ui.setupUi(window);

    // The list controller: the rows in the order the user sorted them. No
    // sort column until a header is clicked, so the table starts in the
    // order the devices were found; a third click on a header returns to it.
    auto *arranged = new DeviceRowOrder(window);
    ui.tableview->setModel(arranged);
    QHeaderView *header = ui.tableview->horizontalHeader();
    header->setSortIndicator(-1, Qt::AscendingOrder);
    header->setSortIndicatorClearable(true);
    header->setSectionResizeMode(QHeaderView::Stretch);
    ui.tableview->setSortingEnabled(true);

    layout->delegate = new AppDelegate(window);
    layout->delegate->setWindow(window);
    layout->controller = new Controller(
        {window, arranged, ui.tableview, ui.loginbutton, ui.refreshbutton, ui.storagebutton, ui.countdownField,
         ui.deviceListField},
        window);
    // Ctrl+Q closes the window as its close button does.
    new QShortcut(QKeySequence::Quit, window, window, &QWidget::close);

    layout->controller->setAllMakes(allMakes);
    layout->delegate->awakeFromNib();
    layout->controller->awakeFromNib();
    return layout;
}

namespace {

// Answers --help, --help-all and --version (and -h, -?, -V) without a
// display: true when it did, and the program ends with status 0. --help-all
// lists Qt's own options too, which only an application can name: one on
// the display-less "minimal" platform.
bool answerWithoutDisplay(int argc, char **argv, QCommandLineParser &options, const QCommandLineOption &version)
{
    QStringList arguments;
    for (int index = 0; index < argc; ++index)
        arguments << QString::fromLocal8Bit(argv[index]);
    const QStringList answeredAtOnce = {"-h", "--help", "-?", "--help-all", "-V", "--version"};
    if (std::none_of(arguments.cbegin() + 1, arguments.cend(),
                     [&](const QString &argument) { return answeredAtOnce.contains(argument); }))
        return false;
    if (arguments.contains(QStringLiteral("--help-all"))) {
        qputenv("QT_QPA_PLATFORM", "minimal");
        QApplication application(argc, argv);
        options.process(application);  // prints the help and ends the process
    }
    options.parse(arguments);
    if (options.isSet(version))
        std::printf("nasscout %s\n", NASSCOUT_VERSION);
    else
        std::fputs(qUtf8Printable(options.helpText().replace("<executable_name>", "nasscout")), stdout);
    return true;
}

// Qt ends a program that cannot open its window with an abort (status 134)
// and a screenful: while the application starts, a fatal message becomes one
// line and status 3 instead.
void sayWhyThereIsNoWindow(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type != QtFatalMsg)
        return;
    // Qt's own words blame the installation; a missing display is the usual cause.
    const bool noDisplay = qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const QString reason = noDisplay ? QStringLiteral("no display (DISPLAY is not set)")
                                     : message.section(QLatin1Char('\n'), 0, 0);
    std::fprintf(stderr, "nasscout: cannot open the window: %s; QT_QPA_PLATFORM=offscreen runs it without one\n",
                 qUtf8Printable(reason));
    std::_Exit(3);
}

}  // namespace

int applicationMain(int argc, char **argv)
{
    // Options first, so that --help and --version need no display.
    QCoreApplication::setApplicationName(QStringLiteral("nasscout"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NASSCOUT_VERSION));
    QCommandLineParser options;
    options.setApplicationDescription(
        QStringLiteral("Finds the NAS devices on the local network and opens the one you pick."));
    options.addHelpOption();
    // Not Qt's own -v: -v means --verbose in nasscout's other programs.
    const QCommandLineOption version({QStringLiteral("V"), QStringLiteral("version")},
                                     QStringLiteral("Displays version information."));
    options.addOption(version);
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("After the search window, save a picture of the window as PNG to <file>, print the "
                       "table on standard output and quit."),
        QStringLiteral("file"));
    options.addOption(screenshot);
    const QCommandLineOption allMakes(
        QStringLiteral("all-makes"),
        QStringLiteral("List NAS devices of every make: every vendor of nasscout's own protocol, and the hosts "
                       "that announce a file service over DNS-SD (found through avahi-daemon)."));
    options.addOption(allMakes);
    // Every other option after the application exists, once it has taken
    // its own (-platform, -style ...) out of the arguments.
    if (answerWithoutDisplay(argc, argv, options, version))
        return 0;

    const QtMessageHandler defaultHandler = qInstallMessageHandler(sayWhyThereIsNoWindow);
    QApplication application(argc, argv);
    qInstallMessageHandler(defaultHandler);
    QGuiApplication::setDesktopFileName(QStringLiteral("nasscout"));
    if (!options.parse(QApplication::arguments())) {
        std::fprintf(stderr, "nasscout: %s\nTry 'nasscout --help'.\n", qUtf8Printable(options.errorText()));
        return 2;
    }

    const std::unique_ptr<MainWindowLayout> layout = loadMainWindowLayout(options.isSet(allMakes));
    if (options.isSet(screenshot)) {
        const QString file = options.value(screenshot);
        QObject::connect(layout->controller, &Controller::searchWindowEnded, layout->window.get(),
                         [&layout, file] { saveScreenshotAndQuit(*layout, file); });
    }
    layout->window->show();
    layout->delegate->applicationDidFinishLaunching();
    return application.exec();
}
