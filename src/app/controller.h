// The device list window's controller: starts the language parse and the
// search through the device store, shows the store's devices during the
// 11-tick search window with a countdown, starts a new search on "Refresh",
// and opens the selected device's web page ("Log In") or file share
// ("My storage") with the desktop's handler.
//
// Main thread only, like every widget it drives. It reaches the engine only
// through the device store, whose lock it takes in CopyDeviceList and
// ClearDeviceList and never holds across its own work.
#pragma once

#include "notification_center.h"
#include "parse_operation.h"

#include <QAbstractTableModel>
#include <QCollator>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QSortFilterProxyModel>
#include <QString>
#include <QThreadPool>

#include <array>

class QLabel;
class QPushButton;
class QTableView;
class QTimer;
class QWidget;
struct deviceinfo;

// The rows the window shows, in store order, as the table's model: one row
// per device record with the texts of the row keys "HomeHost", "IP" and
// "DeviceType" in columns 0, 1 and 2, and the column titles and fonts the
// language gives. Never editable. Main thread only.
class DeviceRows : public QAbstractTableModel
{
    Q_OBJECT

public:
    struct Row
    {
        QString HomeHost;
        QString IP;
        QString DeviceType;
        // Orders the IP column by address, not by text; rows whose "IP" is
        // no address come last.
        quint64 ipOrder = 0;
        // Order the text columns as the user's language sorts them, ignoring
        // case: made once per row shown (replaceAll), compared as bytes by
        // DeviceRowOrder.
        QByteArray hostOrder;
        QByteArray typeOrder;

        // The texts of the record's host, ip and product, decoded as UTF-8,
        // with control and format characters made visible.
        static Row fromDevice(const deviceinfo &device);
        bool operator==(const Row &other) const;
    };

    // Sorts like the displayed text, except the IP column (by address).
    static constexpr int SortRole = Qt::UserRole;

    explicit DeviceRows(QObject *parent = nullptr);

    const QList<Row> &rows() const { return shown; }
    // Replaces every row at once, as one model reset, with its sort keys made.
    void replaceAll(QList<Row> rows);
    void removeAll();

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    // Column titles (DisplayRole) and fonts (FontRole) of the horizontal header.
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant &value,
                       int role = Qt::EditRole) override;

private:
    QList<Row> shown;
    std::array<QString, 3> titles;
    std::array<QVariant, 3> titleFonts;  // empty until the language gives one
};

// The rows in the order the user sorted them: addresses by number, texts as
// the user's language sorts them, ignoring case. Each row's sort keys are
// made once, where comparing texts would collate both for every one of the
// n log n comparisons: a full list sorts in milliseconds. Main thread only.
class DeviceRowOrder : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit DeviceRowOrder(QObject *parent = nullptr);

protected:
    bool lessThan(const QModelIndex &left, const QModelIndex &right) const override;
};

class Controller : public QObject
{
    Q_OBJECT

public:
    // What the window layout hands the controller before awakeFromNib.
    // `window` and every control outlive the controller.
    struct Outlets
    {
        QWidget *window = nullptr;
        QSortFilterProxyModel *array_controller = nullptr;
        QTableView *tableview = nullptr;
        QPushButton *loginbutton = nullptr;
        QPushButton *refreshbutton = nullptr;
        QPushButton *storagebutton = nullptr;
        QLabel *countdownField = nullptr;
        QLabel *deviceListField = nullptr;
    };

    // Ticks of a search window; the 12th tick after a search start is idle.
    static constexpr int kSearchWindowTicks = 11;

    explicit Controller(const Outlets &outlets, QObject *parent = nullptr);
    // Waits for a language parse still under way, which writes into this.
    ~Controller() override;

    // Start-up, once the layout is connected: the language route, the engine
    // (per-address searches on, no search log), the first search pass and
    // the one-second timer.
    void awakeFromNib();

    DeviceRows *device() const { return device_; }
    QSortFilterProxyModel *array_controller() const { return outlets.array_controller; }
    QTableView *tableview() const { return outlets.tableview; }
    QPushButton *loginbutton() const { return outlets.loginbutton; }
    QPushButton *refreshbutton() const { return outlets.refreshbutton; }
    QPushButton *storagebutton() const { return outlets.storagebutton; }
    QLabel *countdownField() const { return outlets.countdownField; }
    QLabel *deviceListField() const { return outlets.deviceListField; }
    QThreadPool *parseQueue() { return &parseQueue_; }
    QTimer *mytimer() const { return mytimer_; }
    int counter() const { return counter_; }
    // The parse whose table the window applies; null when the language file
    // could not be read. Replacing it does not apply the new table: the next
    // "AddEarthquakesNotif" does.
    ParseOperation *parseOperation() const { return parseOperation_; }
    void setParseOperation(ParseOperation *operation) { parseOperation_ = operation; }

signals:
    // The first idle tick after a search start: the table is final until
    // the next "Refresh".
    void searchWindowEnded();

public slots:
    // The timer tick: the countdown and, while searching, the list.
    void getDeviceList();
    void onRefreash();
    void onLogin();
    void onGotoStorage();
    void onTableviewDoubleClicked();
    // The user clicked a column header; the proxy has sorted already.
    void sortDescriptorsDidChange();
    // Applies the language table to the column headers, buttons and caption.
    void ReflashLanguage(const Notification &notification);
    // Ends the process at once with exit status 1, saving nothing.
    [[noreturn]] void windowWillClose();

protected:
    // Watches the window for its close.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setButtonsEnabled(bool enabled);
    // A screen reader announces the table by the caption above it.
    void nameTableAfterCaption();
    void openSelectedDevice(const QString &addressForm);
    // One console line, the first time the store's list was full.
    void sayWhenDevicesWereTurnedAway();
    // A rebuild keeps the user's selection: the rows of the same addresses.
    QSet<QString> selectedAddresses() const;
    void selectAddresses(const QSet<QString> &addresses);

    const Outlets outlets;

    // Created in awakeFromNib and kept for the life of the window.
    DeviceRows *device_ = nullptr;
    QTimer *mytimer_ = nullptr;
    // One worker thread: the language parse.
    QThreadPool parseQueue_;
    QPointer<ParseOperation> parseOperation_;

    int counter_ = 0;                // ticks of the current search window, 0 to 11
    int count_ = 0;                  // devices in the list at its last rebuild
    bool searchWindowOpen_ = false;  // until searchWindowEnded is emitted
    bool saidDevicesWereTurnedAway_ = false;
};
