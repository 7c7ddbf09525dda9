// The table the window shows: its rows, one per device record in store
// order (DeviceRows), and the order the user sorts them in (DeviceRowOrder).
// Every text of a row came from the network and is shown printable.
//
// Main thread only, like the table view that shows them.
#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QList>
#include <QSortFilterProxyModel>
#include <QString>
#include <QVariant>

#include <array>
#include <optional>

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

// The address itself, in host byte order, when `text` is a dotted IPv4
// address in its one canonical form that a device can have. The text comes
// from the network, and nothing else may reach the desktop's URL opener: no
// short ("127.1") or hexadecimal ("0x7f.0.0.1") form, no port, path or scheme
// of its own, and never this machine (loopback) or a broadcast or multicast
// group.
std::optional<quint32> dottedIPv4(const QString &text);
