#include "application_main.h"

#include "app_delegate.h"
#include "controller.h"
#include "src/store/device_store.h"
#include "ui_device_list_window.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QHeaderView>
#include <QKeySequence>
#include <QShortcut>

#include <algorithm>
#include <cstdio>

namespace {

// The rows as the table shows them (sorted as the user sorted), under the
// column titles, as aligned text.
QString tableText(const QAbstractItemModel &table)
{
    const int columns = table.columnCount();
    QList<QStringList> lines;
    QStringList titles;
    for (int column = 0; column < columns; ++column)
        titles << table.headerData(column, Qt::Horizontal).toString();
    lines << titles;
    for (int row = 0; row < table.rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < columns; ++column)
            cells << table.index(row, column).data().toString();  // printable already
        lines << cells;
    }
    QList<qsizetype> widths(columns, 0);
    for (const QStringList &cells : lines) {
        for (int column = 0; column < columns; ++column)
            widths[column] = std::max(widths[column], cells[column].size());
    }
    QString text;
    for (const QStringList &cells : lines) {
        QString line;
        for (int column = 0; column < columns; ++column)
            line += cells[column].leftJustified(column + 1 < columns ? widths[column] + 2 : 0);
        text += line.trimmed() + QLatin1Char('\n');
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
    std::fputs(qUtf8Printable(tableText(*layout.ui->tableview->model())), stdout);
    std::fflush(stdout);
    QCoreApplication::exit(saved ? 0 : 1);
}

}  // namespace

MainWindowLayout::MainWindowLayout() : ui(std::make_unique<Ui::DeviceListWindow>()) {}

MainWindowLayout::~MainWindowLayout() = default;

std::unique_ptr<MainWindowLayout> loadMainWindowLayout()
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

    layout->delegate->awakeFromNib();
    layout->controller->awakeFromNib();
    return layout;
}

int applicationMain(int argc, char **argv)
{
    // Options first, so that --help and --version need no display.
    QCoreApplication::setApplicationName(QStringLiteral("nasscout"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NASSCOUT_VERSION));
    QCommandLineParser options;
    options.setApplicationDescription(
        QStringLiteral("Finds the NAS devices on the local network and opens the one you pick."));
    options.addHelpOption();
    const QCommandLineOption version = options.addVersionOption();
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("After the search window, save a picture of the window as PNG to <file>, print the "
                       "table on standard output and quit."),
        QStringLiteral("file"));
    options.addOption(screenshot);
    // --help and --version answer without a display, so before the
    // application exists; every other option after it, once it has taken
    // its own (-platform, -style ...) out of the arguments.
    QStringList arguments;
    for (int index = 0; index < argc; ++index)
        arguments << QString::fromLocal8Bit(argv[index]);
    const QStringList answeredAtOnce = {"-h", "--help", "-?", "--help-all", "-v", "--version"};
    if (std::any_of(arguments.cbegin() + 1, arguments.cend(),
                    [&](const QString &argument) { return answeredAtOnce.contains(argument); })) {
        options.parse(arguments);
        if (options.isSet(version))
            std::printf("nasscout %s\n", NASSCOUT_VERSION);
        else
            std::fputs(qUtf8Printable(options.helpText().replace("<executable_name>", "nasscout")), stdout);
        return 0;
    }

    QApplication application(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("nasscout"));
    if (!options.parse(QApplication::arguments())) {
        std::fprintf(stderr, "nasscout: %s\nTry 'nasscout --help'.\n", qUtf8Printable(options.errorText()));
        return 2;
    }

    const std::unique_ptr<MainWindowLayout> layout = loadMainWindowLayout();
    if (options.isSet(screenshot)) {
        const QString file = options.value(screenshot);
        QObject::connect(layout->controller, &Controller::searchWindowEnded, layout->window.get(),
                         [&layout, file] { saveScreenshotAndQuit(*layout, file); });
    }
    layout->window->show();
    layout->delegate->applicationDidFinishLaunching();
    return application.exec();
}
