#include "test_main.h"
#include "troubles.h"

#include <QSignalSpy>

using namespace tirvel;

constexpr int UNREACHABLE_MS = 50;

// When a trouble is news for the person, with the broker's wait shortened.
class TestTroubles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Steps: "+camera" and "-camera" (the camera lost and back), "refused", "unreachable" and
    // "connected" (the broker link), "wait" (past the broker's wait). Then how many troubles were
    // notified, and how many are left.
    void news_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<int>("notified");
        QTest::addColumn<int>("present");
        QTest::newRow("the same again is no news") << QStringList {"+camera", "+camera"} << 1 << 1;
        QTest::newRow("cleared and back is news again")
            << QStringList {"+camera", "-camera", "+camera"} << 2 << 1;
        QTest::newRow("out of reach, no news before the wait")
            << QStringList {"unreachable"} << 0 << 0;
        QTest::newRow("out of reach past the wait")
            << QStringList {"unreachable", "unreachable", "wait"} << 1 << 1;
        QTest::newRow("reached within the wait")
            << QStringList {"unreachable", "connected", "wait"} << 0 << 0;
        QTest::newRow("a refusal at once, gone on connecting")
            << QStringList {"refused", "connected"} << 1 << 0;
    }

    void news()
    {
        QFETCH(QStringList, steps);
        Troubles troubles(UNREACHABLE_MS);
        QSignalSpy arose(&troubles, &Troubles::arose);
        for (const QString &step : std::as_const(steps)) {
            if (step.startsWith('+') || step.startsWith('-'))
                troubles.set(Troubles::Kind::CameraLost, step.startsWith('+'));
            else if (step == "refused" || step == "unreachable")
                troubles.brokerDown("why", step == "refused");
            else if (step == "connected")
                troubles.brokerConnected();
            else if (step == "wait")
                QTest::qWait(UNREACHABLE_MS * 4);
            else
                QFAIL(qPrintable("unknown step " + step));
        }
        QTEST(int(arose.size()), "notified");
        QTEST(int(troubles.lines().size()), "present");
    }
};

TIRVEL_TEST_MAIN(TestTroubles)
#include "tst_troubles.moc"
