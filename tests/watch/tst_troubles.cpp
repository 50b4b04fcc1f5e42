#include "test_main.h"
#include "troubles.h"

#include <QSignalSpy>

using namespace tirvel;

namespace {

constexpr int UNREACHABLE_MS = 50;

const QMap<QString, Troubles::Kind> KINDS {{"camera", Troubles::Kind::CameraLost},
    {"refused", Troubles::Kind::BrokerRefused}, {"unreachable", Troubles::Kind::BrokerUnreachable}};

} // namespace

// When a trouble is news for the person, with the broker's wait shortened.
class TestTroubles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Steps: "+camera" and "-camera" (the camera lost and back), "refused", "unreachable" and
    // "connected" (the broker link), "wait" (past the broker's wait). Then the troubles notified,
    // and those there are at the end.
    void news_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("notified");
        QTest::addColumn<QStringList>("present");
        QTest::newRow("the same again is no news") << QStringList {"+camera",
            "+camera"} << QStringList {"camera"} << QStringList {"camera"};
        QTest::newRow("cleared and back is news again")
            << QStringList {"+camera", "-camera", "+camera"} << QStringList {"camera", "camera"}
            << QStringList {"camera"};
        QTest::newRow("a broker out of reach is no news before the wait")
            << QStringList {"unreachable"} << QStringList {} << QStringList {};
        QTest::newRow("a broker out of reach past the wait is")
            << QStringList {"unreachable", "unreachable", "wait"} << QStringList {"unreachable"}
            << QStringList {"unreachable"};
        QTest::newRow("a broker reached within the wait is no news")
            << QStringList {"unreachable", "connected", "wait"} << QStringList {} << QStringList {};
        QTest::newRow("a refusal is news at once, and clears on connecting")
            << QStringList {"refused", "connected"} << QStringList {"refused"} << QStringList {};
    }

    void news()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, notified);
        QFETCH(QStringList, present);
        Troubles troubles(UNREACHABLE_MS);
        QSignalSpy arose(&troubles, &Troubles::arose);
        for (const QString &step : std::as_const(steps)) {
            if (step.startsWith('+') || step.startsWith('-'))
                troubles.set(KINDS.value(step.mid(1)), step.startsWith('+'));
            else if (step == "refused" || step == "unreachable")
                troubles.brokerDown("why", step == "refused");
            else if (step == "connected")
                troubles.brokerConnected();
            else if (step == "wait")
                QTest::qWait(UNREACHABLE_MS * 4);
            else
                QFAIL(qPrintable("unknown step " + step));
        }
        const auto summaries = [](const QStringList &names) {
            QStringList said;
            for (const QString &name : names)
                said << Troubles::summary(KINDS.value(name));
            return said;
        };
        QStringList said;
        for (const QList<QVariant> &news : std::as_const(arose))
            said << news.at(0).toString();
        QCOMPARE(said, summaries(notified));
        QCOMPARE(troubles.lines(), summaries(present));
    }
};

TIRVEL_TEST_MAIN(TestTroubles)
#include "tst_troubles.moc"
