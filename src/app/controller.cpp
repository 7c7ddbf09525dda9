#include "controller.h"

#include "device_address.h"
#include "device_store.h"
#include "language_loader.h"
#include "parse_operation.h"
#include "printable_text.h"

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

// The texts the layout's headers show until the language arrives.
const std::array<QString, 3> kLayoutTitles = {QStringLiteral("Host Name"), QStringLiteral("IP Address"),
                                              QStringLiteral("Model")};
// The language table keys of the three column headers.
const std::array<QString, 3> kColumnKeys = {QStringLiteral("List1"), QStringLiteral("List2"),
                                            QStringLiteral("List3")};

// A language table of this many entries or fewer is reported as incomplete.
constexpr int kIncompleteLanguageTableSize = 4;

// A record's text as a cell shows it: the texts come from the network, so
// what a terminal would obey and what shows nothing are made visible.
QString fieldText(const char (&field)[DEVICEINFO_TEXT_SIZE])
{
    return QString::fromStdString(printable::CellText(printable::Field(field)));
}

// A key whose bytes sort as the user's language sorts `text`, ignoring case:
// the C library's collation for LC_COLLATE, which Qt sets from the
// environment.
QByteArray sortKey(const QString &text)
{
    const QByteArray folded = text.toCaseFolded().toUtf8();
    QByteArray key(qsizetype(std::strxfrm(nullptr, folded.constData(), 0)) + 1, '\0');
    key.resize(qsizetype(std::strxfrm(key.data(), folded.constData(), std::size_t(key.size()))));
    return key;
}

// The address itself when `text` is a dotted IPv4 address in its one
// canonical form that a device can have. The text comes from the network, and
// nothing else may reach the desktop's URL opener: no short ("127.1") or
// hexadecimal ("0x7f.0.0.1") form, no port, path or scheme of its own, and
// never this machine (loopback) or a broadcast or multicast group.
std::optional<quint32> dottedIPv4(const QString &text)
{
    const QByteArray latin1 = text.toLatin1();
    if (latin1.size() != text.size())
        return std::nullopt;
    return DeviceAddress(std::string_view(latin1.constData(), std::size_t(latin1.size())));
}

}  // namespace

DeviceRows::Row DeviceRows::Row::fromDevice(const deviceinfo &device)
{
    Row row;
    row.HomeHost = fieldText(device.host);
    row.IP = fieldText(device.ip);
    row.DeviceType = fieldText(device.product);
    const std::optional<quint32> address = dottedIPv4(row.IP);
    row.ipOrder = address ? *address : (quint64(1) << 32);
    return row;
}

bool DeviceRows::Row::operator==(const Row &other) const
{
    return HomeHost == other.HomeHost && IP == other.IP && DeviceType == other.DeviceType;
}

DeviceRows::DeviceRows(QObject *parent) : QAbstractTableModel(parent), titles(kLayoutTitles) {}

void DeviceRows::replaceAll(QList<Row> rows)
{
    for (Row &row : rows) {
        row.hostOrder = sortKey(row.HomeHost);
        row.typeOrder = sortKey(row.DeviceType);
    }
    beginResetModel();
    shown = std::move(rows);
    endResetModel();
}

void DeviceRows::removeAll()
{
    replaceAll({});
}

int DeviceRows::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(shown.size());
}

int DeviceRows::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(titles.size());
}

QVariant DeviceRows::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= shown.size())
        return {};
    const Row &row = shown.at(index.row());
    if (role == SortRole && index.column() == 1)
        return row.ipOrder;
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != SortRole)
        return {};
    switch (index.column()) {
    case 0:
        return row.HomeHost;
    case 1:
        return row.IP;
    case 2:
        return row.DeviceType;
    default:
        return {};
    }
}

QVariant DeviceRows::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= int(titles.size()))
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole)
        return titles.at(section);
    if (role == Qt::FontRole)
        return titleFonts.at(section);
    return {};
}

bool DeviceRows::setHeaderData(int section, Qt::Orientation orientation, const QVariant &value, int role)
{
    if (orientation != Qt::Horizontal || section < 0 || section >= int(titles.size()))
        return false;
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        titles[section] = value.toString();
    else if (role == Qt::FontRole)
        titleFonts[section] = value;
    else
        return false;
    emit headerDataChanged(orientation, section, section);
    return true;
}

DeviceRowOrder::DeviceRowOrder(QObject *parent) : QSortFilterProxyModel(parent)
{
    setSortRole(DeviceRows::SortRole);
}

bool DeviceRowOrder::lessThan(const QModelIndex &left, const QModelIndex &right) const
{
    // Straight from the rows: a QVariant for each side of every comparison
    // costs more than the comparison.
    const auto *source = qobject_cast<const DeviceRows *>(sourceModel());
    if (source == nullptr || left.column() != right.column())
        return QSortFilterProxyModel::lessThan(left, right);
    const DeviceRows::Row &a = source->rows().at(left.row());
    const DeviceRows::Row &b = source->rows().at(right.row());
    switch (left.column()) {
    case 0:
        return a.hostOrder < b.hostOrder;
    case 1:
        return a.ipOrder < b.ipOrder;
    default:
        return a.typeOrder < b.typeOrder;
    }
}

Controller::Controller(const Outlets &outlets, QObject *parent) : QObject(parent), outlets(outlets)
{
    parseQueue_.setMaxThreadCount(1);
}

Controller::~Controller()
{
    parseQueue_.waitForDone();
    NotificationCenter::defaultCenter().removeObserver(this);
}

void Controller::awakeFromNib()
{
    device_ = new DeviceRows(this);
    outlets.array_controller->setSourceModel(device_);

    NotificationCenter::defaultCenter().addObserver(
        this, kAddEarthquakesNotif, [this](const Notification &n) { ReflashLanguage(n); });
    parseOperation_ = startLanguageParse(parseQueue_, this);

    DeviceStore *store = GetDeviceStore();
    StartDeviceSearch(store, nullptr, false, nullptr, true);
    SearchDevices(store, nullptr);

    counter_ = 0;
    searchWindowOpen_ = true;
    setButtonsEnabled(false);

    mytimer_ = new QTimer(this);
    mytimer_->setInterval(1000);
    connect(mytimer_, &QTimer::timeout, this, &Controller::getDeviceList);
    mytimer_->start();
    count_ = 0;

    connect(outlets.loginbutton, &QPushButton::clicked, this, &Controller::onLogin);
    connect(outlets.storagebutton, &QPushButton::clicked, this, &Controller::onGotoStorage);
    connect(outlets.refreshbutton, &QPushButton::clicked, this, &Controller::onRefreash);
    connect(outlets.tableview, &QTableView::doubleClicked, this, &Controller::onTableviewDoubleClicked);
    connect(outlets.tableview->horizontalHeader(), &QHeaderView::sortIndicatorChanged, this,
            &Controller::sortDescriptorsDidChange);
    outlets.window->installEventFilter(this);
    nameTableAfterCaption();
}

void Controller::getDeviceList()
{
    std::vector<deviceinfo> vListDevice;
    CopyDeviceList(GetDeviceStore(), vListDevice);
    sayWhenDevicesWereTurnedAway();

    if (counter_ >= kSearchWindowTicks) {
        setButtonsEnabled(true);
        outlets.countdownField->setText(QString());
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
    outlets.countdownField->setText(prefix.isEmpty() ? QString::number(secondsLeft)
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
    openSelectedDevice(QStringLiteral("http://%1"));
}

void Controller::onGotoStorage()
{
    openSelectedDevice(QStringLiteral("smb://%1"));
}

void Controller::onTableviewDoubleClicked() {}

void Controller::sortDescriptorsDidChange()
{
    outlets.tableview->viewport()->update();
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
    const QFont headerFont = outlets.tableview->horizontalHeader()->font();
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
    apply(QStringLiteral("Log In"), outlets.loginbutton);
    apply(QStringLiteral("Refresh"), outlets.refreshbutton);
    apply(QStringLiteral("My storage"), outlets.storagebutton);
    apply(QStringLiteral("Device List"), outlets.deviceListField);
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
    if (watched == outlets.window && event->type() == QEvent::Close)
        windowWillClose();
    return QObject::eventFilter(watched, event);
}

void Controller::nameTableAfterCaption()
{
    outlets.tableview->setAccessibleName(outlets.deviceListField->text());
}

QSet<QString> Controller::selectedAddresses() const
{
    QSet<QString> addresses;
    for (const QModelIndex &row : outlets.tableview->selectionModel()->selectedRows())
        addresses.insert(device_->rows().at(outlets.array_controller->mapToSource(row).row()).IP);
    return addresses;
}

void Controller::selectAddresses(const QSet<QString> &addresses)
{
    if (addresses.isEmpty())
        return;
    QItemSelection rows;
    for (int row = 0; row < device_->rowCount(); ++row) {
        if (addresses.contains(device_->rows().at(row).IP)) {
            const QModelIndex shown = outlets.array_controller->mapFromSource(device_->index(row, 0));
            rows.select(shown, shown);
        }
    }
    outlets.tableview->selectionModel()->select(rows, QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void Controller::setButtonsEnabled(bool enabled)
{
    outlets.loginbutton->setEnabled(enabled);
    outlets.refreshbutton->setEnabled(enabled);
    outlets.storagebutton->setEnabled(enabled);
}

void Controller::openSelectedDevice(const QString &addressForm)
{
    const QModelIndexList selected = outlets.tableview->selectionModel()->selectedRows();
    // The table's selected row: the last one selected, none when negative.
    const int selectedRow = selected.isEmpty() ? -1 : selected.constLast().row();
    if (selectedRow < 0 || selectedRow >= outlets.array_controller->rowCount())
        return;
    if (selected.size() != 1)
        return;

    // The proxy's row is the one the user sees selected, sorted or not.
    const int row = outlets.array_controller->mapToSource(selected.constFirst()).row();
    const QString ip = device_->rows().at(row).IP;
    if (!dottedIPv4(ip)) {
        // QDebug quotes the text and escapes what a terminal would act on.
        qWarning() << "not opening the device at" << ip << "(no address a device can have)";
        return;
    }
    QDesktopServices::openUrl(QUrl(addressForm.arg(ip), QUrl::StrictMode));
}
