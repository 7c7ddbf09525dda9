#include "src/texts/font_node.h"

#include <QtTest>

class tst_FontNode : public QObject
{
    Q_OBJECT

private slots:
    void pointSizeIsTheLeadingNumber_data();
    void pointSizeIsTheLeadingNumber();
};

void tst_FontNode::pointSizeIsTheLeadingNumber_data()
{
    QTest::addColumn<QString>("size");
    QTest::addColumn<float>("points");

    QTest::newRow("fraction") << "12.5" << 12.5f;
    QTest::newRow("leading blanks") << " \t14" << 14.0f;
    QTest::newRow("unit after number") << "13pt" << 13.0f;
    QTest::newRow("exponent") << "1.2e1" << 12.0f;
    // A comma is not a decimal mark here, whatever the user's locale says.
    QTest::newRow("comma") << "12,5" << 12.0f;
    QTest::newRow("letters first") << "abc" << 0.0f;
    QTest::newRow("lone point") << "." << 0.0f;
    QTest::newRow("empty") << "" << 0.0f;
}

void tst_FontNode::pointSizeIsTheLeadingNumber()
{
    QFETCH(QString, size);
    QFETCH(float, points);

    FontNode node;
    node.FontSize = size;
    QCOMPARE(node.pointSize(), points);
}

QTEST_GUILESS_MAIN(tst_FontNode)
#include "tst_fontnode.moc"
