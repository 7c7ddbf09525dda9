#include "controller.h"

#include "src/dnssd/dnssd_source.h"
#include "src/store/device_store.h"
#include "src/texts/language_loader.h"
#include "src/texts/parse_operation.h"

#include <QDebug>
#include <QEvent>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTimer>
#include <QUrl>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace {

// The language table keys of the three column headers.
const std::array<QString, 3> kColumnKeys = {QStringLiteral("List1"), QStringLiteral("List2"),
                                            QStringLiteral("List3")};

// A language table of this many entries or fewer is reported as incomplete.
constexpr int kIncompleteLanguageTableSize = 4;

// A link a host advertised leads to that host and nowhere else: one of the
// expected schemes, the row's own address, no user, password or fragment.
bool isLinkToDevice(const QUrl &link, const QString &ip, const QStringList &schemes)
{
    return link.isValid() && schemes.contains(link.scheme()) && link.host() == ip && link.userInfo().isEmpty() &&
           !link.hasFragment();
}

}  // namespace

Controller::Controller(const Outlets &outlets, QObject *parent) : QObject(parent), outlets_(outlets)
{
    parseQueue_.setMaxThreadCount(1);
}

Controller::~Controller()
{
    if (dnssd_)
        dnssd_->Stop();
    parseQueue_.waitForDone();
    NotificationCenter::defaultCenter().removeObserver(this);
}

void Controller::awakeFromNib()
{
    device_ = new DeviceRows(this);
    outlets_.array_controller->setSourceModel(device_);

    NotificationCenter::defaultCenter().addObserver(
        this, kAddEarthquakesNotif, [this](const Notification &n) { ReflashLanguage(n); });
    parseOperation_ = startLanguageParse(parseQueue_, this);

    DeviceStore *store = GetDeviceStore();
    store->admitsEveryVendor = allMakes_;
    StartDeviceSearch(store, nullptr, false, nullptr, true);
    if (allMakes_) {
        dnssd_ = std::make_unique<dnssd::DnssdSource>(store, "nasscout");
        dnssd_->Start();
    }
    SearchDevices(store, nullptr);

    counter_ = 0;
    searchWindowOpen_ = true;
    setButtonsEnabled(false);

    mytimer_ = new QTimer(this);
    mytimer_->setInterval(1000);
    connect(mytimer_, &QTimer::timeout, this, &Controller::getDeviceList);
    mytimer_->start();
    count_ = 0;

    connect(outlets_.loginbutton, &QPushButton::clicked, this, &Controller::onLogin);
    connect(outlets_.storagebutton, &QPushButton::clicked, this, &Controller::onGotoStorage);
    connect(outlets_.refreshbutton, &QPushButton::clicked, this, &Controller::onRefreash);
    connect(outlets_.tableview, &QTableView::doubleClicked, this, &Controller::onTableviewDoubleClicked);
    connect(outlets_.tableview->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
            &Controller::sortDescriptorsDidChange);
    outlets_.window->installEventFilter(this);
    nameTableAfterCaption();
}

void Controller::getDeviceList()
{
    std::vector<deviceinfo> vListDevice;
    CopyDeviceList(GetDeviceStore(), vListDevice);
    sayWhenDevicesWereTurnedAway();

    if (counter_ >= kSearchWindowTicks) {
        setButtonsEnabled(true);
        outlets_.countdownField->setText(QString());
        if (searchWindowOpen_) {
            searchWindowOpen_ = false;
            emit searchWindowEnded();
        }
        return;
    }

    ++counter_;
    const int secondsLeft = kSearchWindowTicks - counter_;
    const QString prefix = parseOperation_
        ? parseOperation_->currentParseBatchDic().value(QStringLiteral("Search Time")).String
        : QString();
    // Until the language arrives (or where it has no "Search Time") the number stands alone.
    outlets_.countdownField->setText(prefix.isEmpty() ? QString::number(secondsLeft)
                                                     : QStringLiteral("%1 %2").arg(prefix).arg(secondsLeft));
    qInfo("vListDevice.size() = %ld", long(vListDevice.size()));

    // Rebuilt whenever the list differs from what is shown, not only when
    // its size changed: a device that left for another must not stay listed.
    QList<DeviceRows::Row> copied;
    copied.reserve(qsizetype(vListDevice.size()));
    for (const deviceinfo &record : vListDevice)
        copied.append(DeviceRows::Row::fromDevice(record));
    if (copied == device_->rows())
        return;
    const QSet<QString> selected = selectedAddresses();
    device_->replaceAll(std::move(copied));
    count_ = int(vListDevice.size());
    selectAddresses(selected);
}

void Controller::sayWhenDevicesWereTurnedAway()
{
    if (saidDevicesWereTurnedAway_)
        return;
    const std::uint64_t turnedAway = DevicesTurnedAway(GetDeviceStore());
    if (turnedAway == 0)
        return;
    saidDevicesWereTurnedAway_ = true;
    qWarning("the device list holds %zu devices at most; answers of further devices are turned away (%llu so far)",
             kMostListedDevices, static_cast<unsigned long long>(turnedAway));
}

void Controller::onRefreash()
{
    device_->removeAll();
    DeviceStore *store = GetDeviceStore();
    ClearDeviceList(store);
    SearchDevices(store, nullptr);
    count_ = 0;
    counter_ = 0;
    searchWindowOpen_ = true;
    setButtonsEnabled(false);
}

void Controller::onLogin()
{
    openSelectedDevice(QStringLiteral("http://%1"), &dnssd::HostLinks::webPage,
                       {QStringLiteral("http"), QStringLiteral("https")});
}

void Controller::onGotoStorage()
{
    openSelectedDevice(QStringLiteral("smb://%1"), &dnssd::HostLinks::fileShare,
                       {QStringLiteral("smb"), QStringLiteral("afp")});
}

void Controller::onTableviewDoubleClicked() {}

void Controller::sortDescriptorsDidChange()
{
    outlets_.tableview->viewport()->update();
    qInfo("count=11111");
}

void Controller::ReflashLanguage(const Notification & /*notification*/)
{
    static const LanguageTable kNoTable;
    const LanguageTable &table = parseOperation_ ? parseOperation_->currentParseBatchDic() : kNoTable;

    if (table.size() <= kIncompleteLanguageTableSize) {
        // Not modal and not waited for: the window applies what there is.
        auto *alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("nasscout"), QStringLiteral("aaa"),
                                      QMessageBox::Ok);
        alert->setInformativeText(QStringLiteral("bbb"));
        alert->button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
        alert->setWindowModality(Qt::NonModal);
        alert->setAttribute(Qt::WA_DeleteOnClose);
        alert->show();
    }

    // An entry that is missing, or that has no text, leaves the layout's
    // text; FontNode::font keeps the layout's font where the entry is silent.
    const QFont headerFont = outlets_.tableview->horizontalHeader()->font();
    for (int column = 0; column < device_->columnCount() && column < int(kColumnKeys.size()); ++column) {
        const auto entry = table.constFind(kColumnKeys[column]);
        if (entry == table.cend())
            continue;
        if (!entry->String.isEmpty())
            device_->setHeaderData(column, Qt::Horizontal, entry->String, Qt::DisplayRole);
        device_->setHeaderData(column, Qt::Horizontal, entry->font(headerFont), Qt::FontRole);
    }

    const auto apply = [&table](const QString &key, auto *control) {
        const auto entry = table.constFind(key);
        if (entry == table.cend())
            return;
        if (!entry->String.isEmpty())
            control->setText(entry->String);
        control->setFont(entry->font(control->font()));
    };
    apply(QStringLiteral("Log In"), outlets_.loginbutton);
    apply(QStringLiteral("Refresh"), outlets_.refreshbutton);
    apply(QStringLiteral("My storage"), outlets_.storagebutton);
    apply(QStringLiteral("Device List"), outlets_.deviceListField);
    nameTableAfterCaption();
}

void Controller::windowWillClose()
{
    std::fflush(nullptr);
    FlushVendorLines(kLastVendorLinesWait);
    std::_Exit(1);
}

bool Controller::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == outlets_.window && event->type() == QEvent::Close)
        windowWillClose();
    return QObject::eventFilter(watched, event);
}

void Controller::nameTableAfterCaption()
{
    outlets_.tableview->setAccessibleName(outlets_.deviceListField->text());
}

QSet<QString> Controller::selectedAddresses() const
{
    QSet<QString> addresses;
    for (const QModelIndex &row : outlets_.tableview->selectionModel()->selectedRows())
        addresses.insert(device_->rows().at(outlets_.array_controller->mapToSource(row).row()).IP);
    return addresses;
}

void Controller::selectAddresses(const QSet<QString> &addresses)
{
    if (addresses.isEmpty())
        return;
    QItemSelection rows;
    for (int row = 0; row < device_->rowCount(); ++row) {
        if (addresses.contains(device_->rows().at(row).IP)) {
            const QModelIndex shown = outlets_.array_controller->mapFromSource(device_->index(row, 0));
            rows.select(shown, shown);
        }
    }
    outlets_.tableview->selectionModel()->select(rows, QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void Controller::setButtonsEnabled(bool enabled)
{
    outlets_.loginbutton->setEnabled(enabled);
    outlets_.refreshbutton->setEnabled(enabled);
    outlets_.storagebutton->setEnabled(enabled);
}

void Controller::openSelectedDevice(const QString &addressForm, std::string dnssd::HostLinks::*advertised,
                                    const QStringList &schemes)
{
    const QModelIndexList selected = outlets_.tableview->selectionModel()->selectedRows();
    // The table's selected row: the last one selected, none when negative.
    const int selectedRow = selected.isEmpty() ? -1 : selected.constLast().row();
    if (selectedRow < 0 || selectedRow >= outlets_.array_controller->rowCount())
        return;
    if (selected.size() != 1)
        return;

    // The proxy's row is the one the user sees selected, sorted or not.
    const int row = outlets_.array_controller->mapToSource(selected.constFirst()).row();
    const QString ip = device_->rows().at(row).IP;
    if (!dottedIPv4(ip)) {
        // QDebug quotes the text and escapes what a terminal would act on.
        qWarning() << "not opening the device at" << ip << "(no address a device can have)";
        return;
    }
    QUrl url(addressForm.arg(ip), QUrl::StrictMode);
    const std::string link = dnssd_ ? dnssd_->LinksOf(ip.toStdString()).*advertised : std::string();
    if (!link.empty()) {
        const QUrl linked(QString::fromStdString(link), QUrl::StrictMode);
        if (isLinkToDevice(linked, ip, schemes))
            url = linked;
        else
            qWarning() << "not opening" << QString::fromStdString(link) << "(not a link to" << ip << "itself)";
    }
    QDesktopServices::openUrl(url);
}
