#include "fake_broker_link.h"
#include "mqtt_bridge.h"
#include "test_main.h"

#include <QSignalSpy>

using namespace tirvel;

namespace {

const QString BASE = QStringLiteral("tirvel/box/");

MqttBridge::Settings settings(const QString &discoveryPrefix = {})
{
    return {QStringLiteral("box"), discoveryPrefix, QStringLiteral("1.0"),
        QStringLiteral("127.0.0.1:1883"), 30000, 100};
}

Event eventOf(EventKind kind)
{
    Event event;
    event.kind = kind;
    return event;
}

} // namespace

// The bridge's rules with a fake link: which commands it obeys, and what a broker learns at each
// connection. The goodbye is e2e_mqtt_leaving's, on the real broker.
class TestMqttBridge : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void command_data()
    {
        QTest::addColumn<QString>("leaf");
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<bool>("retained");
        // What the bridge asks for, each time the command comes; empty when it must be ignored.
        QTest::addColumn<QString>("obeyed");
        const QString watch = QStringLiteral("watch/set");
        const QString sensitivity = QStringLiteral("sensitivity/set");
        QTest::newRow("watch ON") << watch << QByteArray("ON") << false << "watch ON";
        QTest::newRow("watch OFF") << watch << QByteArray("OFF") << false << "watch OFF";
        QTest::newRow("watch ON retained") << watch << QByteArray("ON") << true << "";
        QTest::newRow("watch OFF retained") << watch << QByteArray("OFF") << true << "";
        QTest::newRow("watch garbage") << watch << QByteArray("on") << false << "";
        QTest::newRow("sensitivity retained") << sensitivity << QByteArray("70") << true << "";
        QTest::newRow("70") << sensitivity << QByteArray("70") << false << "sensitivity 70";
        QTest::newRow("70.0") << sensitivity << QByteArray("70.0") << false << "sensitivity 70";
        QTest::newRow("0") << sensitivity << QByteArray("0") << false << "sensitivity 0";
        QTest::newRow("100") << sensitivity << QByteArray("100") << false << "sensitivity 100";
        QTest::newRow("-1") << sensitivity << QByteArray("-1") << false << "";
        QTest::newRow("101") << sensitivity << QByteArray("101") << false << "";
        QTest::newRow("abc") << sensitivity << QByteArray("abc") << false << "";
        QTest::newRow("empty") << sensitivity << QByteArray() << false << "";
        QTest::newRow("over-long") << sensitivity << "70." + QByteArray(1000, '0') << false << "";
    }

    // Each twice: an obeyed one is obeyed both times, an ignored one said once.
    void command()
    {
        QFETCH(QString, leaf);
        QFETCH(QByteArray, payload);
        QFETCH(bool, retained);
        QFETCH(QString, obeyed);
        FakeBrokerLink link;
        MqttBridge bridge(link, settings());
        QSignalSpy watch(&bridge, &MqttBridge::watchRequested);
        QSignalSpy sensitivity(&bridge, &MqttBridge::sensitivityRequested);
        QSignalSpy said(&bridge, &MqttBridge::messageForPerson);
        QVERIFY(link.subscriptions.contains(BASE + leaf));
        link.connectNow();
        said.clear();
        for (int time = 0; time < 2; ++time)
            Q_EMIT link.messageArrived(BASE + leaf, payload, retained);
        // The second of a burst of switches comes at its end.
        if (obeyed.startsWith("watch"))
            QTRY_COMPARE_WITH_TIMEOUT(watch.size(), 2, 2000);
        QStringList heard;
        for (const QList<QVariant> &asked : std::as_const(watch))
            heard << (asked.at(0).toBool() ? "watch ON" : "watch OFF");
        for (const QList<QVariant> &asked : std::as_const(sensitivity))
            heard << "sensitivity " + asked.at(0).toString();
        QCOMPARE(heard, obeyed.isEmpty() ? QStringList() : QStringList({obeyed, obeyed}));
        QCOMPARE(said.count(), obeyed.isEmpty() ? 1 : 0);
    }

    // A flood of switches is one at once and then one a burst, the last, with how many it
    // stands for.
    void aFloodOfSwitchesIsOneABurst()
    {
        FakeBrokerLink link;
        MqttBridge bridge(link, settings());
        QSignalSpy watch(&bridge, &MqttBridge::watchRequested);
        link.connectNow();
        for (const char *payload : {"ON", "OFF", "ON", "OFF"})
            Q_EMIT link.messageArrived(BASE + "watch/set", payload, false);
        QCOMPARE(watch.size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(watch.size(), 2, 2000);
        QCOMPARE(watch.at(1), QVariantList({false, 3}));
        QTest::qWait(300);
        QCOMPARE(watch.size(), 2);
    }

    void stateAtEachConnection_data()
    {
        QTest::addColumn<QString>("discoveryPrefix");
        QTest::addColumn<bool>("cameraKnown");
        QTest::addColumn<bool>("picture");
        QTest::newRow("nothing seen yet") << QString() << false << false;
        QTest::newRow("camera and a picture") << "homeassistant" << true << true;
    }

    // What was decided while the broker was away reaches it at the next connection, retained.
    void stateAtEachConnection()
    {
        QFETCH(QString, discoveryPrefix);
        QFETCH(bool, cameraKnown);
        QFETCH(bool, picture);
        FakeBrokerLink link;
        MqttBridge bridge(link, settings(discoveryPrefix));
        QSignalSpy logged(&bridge, &MqttBridge::linkEvent);
        QMap<QString, QByteArray> expected {{"status", "online"}, {"motion", "OFF"}};
        for (int connection = 0; connection < 2; ++connection) {
            const QByteArray sensitivity = QByteArray::number(60 + connection);
            bridge.setSensitivity(sensitivity.toInt());
            bridge.watchingChanged(connection == 0);
            expected["sensitivity"] = sensitivity;
            expected["watch"] = connection == 0 ? "ON" : "OFF";
            if (cameraKnown && connection == 1) {
                bridge.pictureSeen();
                expected["camera"] = "ON";
            }
            if (picture && connection == 1) {
                Event start = eventOf(EventKind::MotionStart);
                start.pictureBytes = "PNG";
                start.snapshotBytes = "JPEG";
                bridge.eventRecorded(start);
                bridge.eventRecorded(eventOf(EventKind::MotionEnd));
                expected["picture"] = "PNG";
                expected["snapshot"] = "JPEG";
            }
            link.connectNow();
            QMap<QString, QByteArray> state;
            int discovery = 0;
            for (const FakeBrokerLink::Sent &sent : std::as_const(link.sent)) {
                QVERIFY2(sent.retain, qPrintable(sent.topic));
                if (sent.topic.startsWith(BASE))
                    state[sent.topic.mid(BASE.size())] = sent.payload;
                else
                    ++discovery;
            }
            QCOMPARE(state, expected);
            QCOMPARE(discovery > 0, !discoveryPrefix.isEmpty());
            link.drop(QStringLiteral("gone"));
            link.sent.clear();
        }
        QCOMPARE(logged.count(), 3);
        QCOMPARE(logged.at(1).at(0).value<EventKind>(), EventKind::BrokerBack);
        QCOMPARE(logged.at(2).at(0).value<EventKind>(), EventKind::BrokerLost);
        QCOMPARE(logged.at(2).at(1).toJsonObject().value("reason").toString(), "gone");
    }

    // The wait the link really takes, and a take-over's returns, which come quietly.
    void toldOfTheLink_data()
    {
        QTest::addColumn<int>("retryMs");
        QTest::addColumn<QString>("told");
        QTest::newRow("first") << 1000 << "in 1 s, then less and less often, up to 30 s apart";
        QTest::newRow("longest") << 30000 << "every 30 s";
    }
    void toldOfTheLink()
    {
        FakeBrokerLink link;
        MqttBridge bridge(link, settings());
        QSignalSpy told(&bridge, &MqttBridge::messageForPerson);
        QSignalSpy logged(&bridge, &MqttBridge::linkEvent);
        QFETCH(int, retryMs);
        link.drop(QStringLiteral("gone"), retryMs);
        Q_EMIT link.resumed();
        QTEST(told.at(0).at(0).toString().section(QLatin1String("trying again "), 1), "told");
        QCOMPARE(told.count() + logged.count(), 2);
    }

    // A picture the broker cannot take comes with every event.
    void picturesTooLargeSaidOnce()
    {
        FakeBrokerLink link;
        MqttBridge bridge(link, settings());
        QSignalSpy told(&bridge, &MqttBridge::messageForPerson);
        for (const char *leaf : {"picture", "snapshot", "picture"})
            Q_EMIT link.tooLarge(BASE + QLatin1String(leaf), 4000, 3000);
        QCOMPARE(told.count(), 1);
        QVERIFY(told.at(0).at(0).toString().contains(
            "at most 3000 bytes, too small for the event pictures (about 4000"));
    }
};

TIRVEL_TEST_MAIN(TestMqttBridge)
#include "tst_mqtt_bridge.moc"
