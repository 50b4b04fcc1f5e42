#include "status_tray.h"
#include "test_main.h"

#include <QPixmap>

using namespace tirvel;

// What the tray shows for a state, composed without a tray: the offscreen platform has none.
class TestStatusTray : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void look_data()
    {
        QTest::addColumn<bool>("watching");
        QTest::addColumn<bool>("motion");
        QTest::addColumn<QStringList>("troubles");
        QTest::addColumn<QString>("toolTip");
        // The mark's hue in degrees, -1 for none.
        QTest::addColumn<int>("hue");
        QTest::newRow("not watching, no count and no mark")
            << false << false << QStringList {} << "Tirvel bevakar inte" << -1;
        QTest::newRow("watching, the last count against the threshold, green")
            << true << false << QStringList {}
            << "Tirvel bevakar\nSenaste test: 12 punkter, larm över 50" << 135;
        QTest::newRow("an event open, orange")
            << true << true << QStringList {}
            << "Tirvel bevakar\nRörelse pågår\nSenaste test: 12 punkter, larm över 50" << 35;
        QTest::newRow("trouble outweighs an event, red")
            << true << true << QStringList {"Kameran ger ingen bild", "Inga nya bilder"}
            << "Tirvel bevakar\nRörelse pågår\nSenaste test: 12 punkter, larm över 50\n"
               "Kameran ger ingen bild\nInga nya bilder"
            << 0;
    }

    void look()
    {
        QFETCH(bool, watching);
        QFETCH(bool, motion);
        QFETCH(QStringList, troubles);
        QFETCH(int, hue);
        const TrayLook look = trayLook({watching, motion, troubles, 12, 50});
        QTEST(look.toolTip, "toolTip");

        QPixmap plain(48, 48);
        plain.fill(Qt::blue);
        const QImage drawn = markedIcon(QIcon(plain), look.mark).pixmap(48).toImage();
        QCOMPARE(drawn.pixelColor(0, 0), QColor(Qt::blue));
        // Near the lower right corner, where the mark is drawn.
        const QColor corner = drawn.pixelColor(38, 38);
        if (hue < 0)
            QCOMPARE(corner, QColor(Qt::blue));
        else
            QVERIFY2(qAbs(corner.hue() - hue) <= 25, qPrintable(corner.name()));
    }
};

TIRVEL_TEST_MAIN(TestStatusTray)
#include "tst_status_tray.moc"
