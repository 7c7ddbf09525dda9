// The device list window's controller: starts the language parse and the
// search through the device store, shows the store's devices during the
// 11-tick search window with a countdown, starts a new search on "Refresh",
// and opens the selected device's web page ("Log In") or file share
// ("My storage") with the desktop's handler. With every make, a DNS-SD
// source beside the engine lists hosts of other makes too, and their
// advertised web page and file share are what the buttons open.
//
// Main thread only, like every widget it drives. It reaches the engine only
// through the device store, whose lock it takes in CopyDeviceList and
// ClearDeviceList and never holds across its own work.
#pragma once

#include "device_rows.h"
#include "src/texts/notification_center.h"
#include "src/texts/parse_operation.h"

#include <QPointer>
#include <QSet>
#include <QSortFilterProxyModel>
#include <QString>
#include <QStringList>
#include <QThreadPool>

#include <memory>
#include <string>

class QLabel;
class QPushButton;
class QTableView;
class QTimer;
class QWidget;
namespace dnssd {
class DnssdSource;
struct HostLinks;
}  // namespace dnssd

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
    // Waits for a language parse still under way, which writes into this;
    // stops the DNS-SD source.
    ~Controller() override;

    // Before awakeFromNib: list every vendor of nasscout's protocol and the
    // hosts that announce a file service over DNS-SD.
    void setAllMakes(bool allMakes) { allMakes_ = allMakes; }

    // Start-up, once the layout is connected: the language route, the engine
    // (per-address searches on, no search log), the first search pass and
    // the one-second timer.
    void awakeFromNib();

    DeviceRows *device() const { return device_; }
    QSortFilterProxyModel *array_controller() const { return outlets_.array_controller; }
    QTableView *tableview() const { return outlets_.tableview; }
    QPushButton *loginbutton() const { return outlets_.loginbutton; }
    QPushButton *refreshbutton() const { return outlets_.refreshbutton; }
    QPushButton *storagebutton() const { return outlets_.storagebutton; }
    QLabel *countdownField() const { return outlets_.countdownField; }
    QLabel *deviceListField() const { return outlets_.deviceListField; }
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
    // "Refresh"; the slot names (onRefreash, ReflashLanguage) are fixed as spelled.
    void onRefreash();
    void onLogin();
    void onGotoStorage();
    // Does nothing, on purpose: a double click opens nothing, so a slip of
    // the mouse never starts a browser.
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
    // Opens the selected row's address in `addressForm`, or the link the
    // DNS-SD source has for it (`advertised`) when that passes the checks of
    // isLinkToDevice for `schemes`.
    void openSelectedDevice(const QString &addressForm, std::string dnssd::HostLinks::*advertised,
                            const QStringList &schemes);
    // One console line, the first time the store's list was full.
    void sayWhenDevicesWereTurnedAway();
    // A rebuild keeps the user's selection: the rows of the same addresses.
    QSet<QString> selectedAddresses() const;
    void selectAddresses(const QSet<QString> &addresses);

    const Outlets outlets_;

    // Created in awakeFromNib and kept for the life of the window.
    DeviceRows *device_ = nullptr;
    QTimer *mytimer_ = nullptr;
    // One worker thread: the language parse.
    QThreadPool parseQueue_;
    QPointer<ParseOperation> parseOperation_;
    // With every make: hosts found through avahi-daemon, from awakeFromNib on.
    bool allMakes_ = false;
    std::unique_ptr<dnssd::DnssdSource> dnssd_;

    int counter_ = 0;                // ticks of the current search window, 0 to 11
    int count_ = 0;                  // devices in the list at its last rebuild
    bool searchWindowOpen_ = false;  // until searchWindowEnded is emitted
    bool saidDevicesWereTurnedAway_ = false;
};
