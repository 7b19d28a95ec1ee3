#include "ColumnWidths.h"

#include <QtTest>

class TestColumnWidths : public QObject
{
    Q_OBJECT
private slots:
    void widthsForView_data();
    void widthsForView();
};

void TestColumnWidths::widthsForView_data()
{
    QTest::addColumn<int>("viewWidth");
    QTest::addColumn<int>("name");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("modified");

    // A view that has not been laid out yet.
    QTest::newRow("0") << 0 << 820 << 80 << 100 << 160;
    QTest::newRow("40") << 40 << 820 << 80 << 100 << 160;
    QTest::newRow("41") << 41 << 200 << 80 << 100 << 160;
    QTest::newRow("240") << 240 << 200 << 80 << 100 << 160;
    // Proportional range: f = (W - 240) / 340, truncated toward zero.
    QTest::newRow("241") << 241 << 200 << 0 << 0 << 0;
    QTest::newRow("410") << 410 << 200 << 40 << 50 << 80;
    QTest::newRow("579") << 579 << 200 << 79 << 99 << 159;
    QTest::newRow("580") << 580 << 200 << 80 << 100 << 160;
    QTest::newRow("1000") << 1000 << 620 << 80 << 100 << 160;
}

void TestColumnWidths::widthsForView()
{
    QFETCH(int, viewWidth);
    QFETCH(int, name);
    QFETCH(int, type);
    QFETCH(int, size);
    QFETCH(int, modified);

    const ColumnWidths widths = columnWidthsForViewWidth(viewWidth);
    QCOMPARE(widths.name, name);
    QCOMPARE(widths.type, type);
    QCOMPARE(widths.size, size);
    QCOMPARE(widths.modified, modified);
}

QTEST_APPLESS_MAIN(TestColumnWidths)
#include "tst_columnwidths.moc"
