#include "device_rows.h"

#include "engine/untrusted/device_address.h"
#include "engine/untrusted/printable_text.h"

#include <searchdevice/deviceinfo.h>

#include <cstring>
#include <string_view>

namespace {

// The texts the layout's headers show until the language arrives.
const std::array<QString, 3> kLayoutTitles = {QStringLiteral("Host Name"), QStringLiteral("IP Address"),
                                              QStringLiteral("Model")};

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

}  // namespace

std::optional<quint32> dottedIPv4(const QString &text)
{
    const QByteArray latin1 = text.toLatin1();
    if (latin1.size() != text.size())
        return std::nullopt;
    return DeviceAddress(std::string_view(latin1.constData(), std::size_t(latin1.size())));
}

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
