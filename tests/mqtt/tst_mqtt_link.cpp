#include "link_attempt.h"
#include "mqtt_link.h"
#include "test_main.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <csignal>
#include <memory>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace tirvel;

namespace {

// Short enough that a test reaches each in milliseconds.
constexpr int FIRST_RETRY_MS = 100;
constexpr int GOODBYE_WAIT_MS = 200;

// A port on 127.0.0.1 that nothing listens on; 0 for none.
int freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof address;
    const bool bound = bind(fd, reinterpret_cast<sockaddr *>(&address), size) == 0
        && getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0;
    close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

// mosquitto on 127.0.0.1 with a configuration of the test's own, which dies with the test.
class Broker
{
public:
    Broker(int port, bool anonymous, const QString &more = {})
    {
        QFile conf(m_dir.filePath(QStringLiteral("broker.conf")));
        if (conf.open(QIODevice::WriteOnly))
            conf.write(QStringLiteral("user root\npersistence false\nallow_anonymous %1\n"
                                      "listener %2 127.0.0.1\n%3\n")
                           .arg(anonymous ? "true" : "false")
                           .arg(port)
                           .arg(more)
                           .toUtf8());
        // Whole on the disk before the broker reads it.
        conf.close();
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_process.start(QStringLiteral(MOSQUITTO_PATH), {QStringLiteral("-c"), conf.fileName()});
    }
    ~Broker()
    {
        m_process.kill();
        m_process.waitForFinished();
    }

    QByteArray log() { return m_log += m_process.readAll(); }
    bool running() { return log().contains(" running"); }
    // Still connected, never answering.
    void freeze() { ::kill(pid_t(m_process.processId()), SIGSTOP); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QByteArray m_log;
};

MqttLink::Settings settings(int port)
{
    MqttLink::Settings settings;
    settings.target.host = QStringLiteral("127.0.0.1");
    settings.target.port = port;
    settings.clientId = QStringLiteral("tirvel-test");
    settings.firstRetryMs = FIRST_RETRY_MS;
    settings.longestRetryMs = 60000;
    settings.goodbyeWaitMs = GOODBYE_WAIT_MS;
    return settings;
}

} // namespace

// The link on a real broker, with its waits shortened.
class TestMqttLink : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        if (!QFile::exists(QStringLiteral(MOSQUITTO_PATH))
            && !QByteArray(QTest::currentTestFunction()).startsWith("attempt"))
            QSKIP("no broker in build/mosquitto (scripts/test unpacks one)");
    }

    void attemptWaits_data()
    {
        QTest::addColumn<int>("lastWaitMs");
        QTest::addColumn<bool>("wasConnected");
        QTest::addColumn<bool>("takenOver");
        QTest::addColumn<int>("waitMs");
        QTest::newRow("first failure") << 0 << false << false << 100;
        QTest::newRow("failed again") << 200 << false << false << 400;
        QTest::newRow("failed again at the longest") << 800 << false << false << 1000;
        QTest::newRow("lost after a connection") << 1000 << true << false << 100;
        QTest::newRow("taken over") << 100 << true << true << 1000;
    }
    void attemptWaits()
    {
        QFETCH(int, lastWaitMs);
        LinkAttempt attempt;
        QFETCH(bool, wasConnected);
        QFETCH(bool, takenOver);
        attempt.wasConnected = wasConnected;
        attempt.takenOver = takenOver;
        QTEST(attempt.waitAfter(lastWaitMs, 100, 1000), "waitMs");
    }

    // MQTT 5's refusals in the words MQTT 3.1.1's had, and only a person can mend a refusal.
    void attemptReasons_data()
    {
        QTest::addColumn<int>("refusal");
        QTest::addColumn<bool>("takenOver");
        QTest::addColumn<QString>("said");
        QTest::addColumn<bool>("refused");
        QTest::newRow("0x84") << 0x84 << false << "takes neither MQTT 5 nor 3.1.1" << true;
        QTest::newRow("0x85") << 0x85 << false << "refused Tirvel's client id" << true;
        QTest::newRow("0x86") << 0x86 << false << "wants a user name and password" << true;
        QTest::newRow("0x87") << 0x87 << false << "wants a user name and password" << true;
        QTest::newRow("0x88") << 0x88 << false << "is not taking connections" << false;
        QTest::newRow("0x89") << 0x89 << false << "is not taking connections" << false;
        QTest::newRow("0x8A") << 0x8A << false << "has banned Tirvel's client id" << true;
        QTest::newRow("0x80") << 0x80 << false << "refused the connection: Unspecified" << true;
        QTest::newRow("3.1.1: 5") << 5 << false << "wants a user name and password" << true;
        QTest::newRow("taken over") << 0 << true << "another client uses the id box" << true;
    }
    void attemptReasons()
    {
        LinkAttempt attempt;
        QFETCH(int, refusal);
        QFETCH(bool, takenOver);
        QFETCH(QString, said);
        attempt.refusal = refusal;
        attempt.wasConnected = attempt.takenOver = takenOver;
        const QString reason = attempt.reason({}, QStringLiteral("box"), {}, 1000);
        QVERIFY2(reason.contains(said), qPrintable(reason));
        QTEST(attempt.refused(), "refused");
    }

    // Two links with one id take it from each other no more often than the longest wait, and
    // each says why once.
    void takenOverIdWaitsTheLongest()
    {
        const int port = freePort();
        Broker broker(port, true);
        QTRY_VERIFY_WITH_TIMEOUT(broker.running(), 5000);
        auto both = settings(port);
        both.longestRetryMs = 2000;
        MqttLink first(both);
        MqttLink second(both);
        QSignalSpy firstDown(&first, &MqttLink::down);
        QSignalSpy secondDown(&second, &MqttLink::down);
        QVERIFY(!first.start() && !second.start());
        QTest::qWait(5000);
        // At once, after the first wait, and at about 2 and 4 s.
        QCOMPARE_LE(broker.log().count("closing old connection"), 4);
        for (const QSignalSpy *down : {&firstDown, &secondDown}) {
            QCOMPARE(down->count(), 1);
            QVERIFY(
                down->at(0).at(0).toString().contains("another client uses the id tirvel-test"));
            QCOMPARE(down->at(0).at(2).toInt(), 2000);
        }
    }

    // What the broker would end the connection for is not sent, and said.
    void keepsToThePacketLimit()
    {
        const int port = freePort();
        Broker broker(port, true, QStringLiteral("max_packet_size 3000"));
        QTRY_VERIFY_WITH_TIMEOUT(broker.running(), 5000);
        MqttLink link(settings(port));
        QSignalSpy tooLarge(&link, &MqttLink::tooLarge);
        QVERIFY(!link.start());
        QTRY_VERIFY_WITH_TIMEOUT(link.isConnected(), 5000);
        QVERIFY(!link.publish(QStringLiteral("tirvel/test/picture"), QByteArray(4000, 'p'), true));
        QVERIFY(link.publish(QStringLiteral("tirvel/test/motion"), "ON", true));
        QCOMPARE(tooLarge.count(), 1);
        QCOMPARE(tooLarge.at(0).at(2).toLongLong(), 3000);
        QTest::qWait(1000);
        QVERIFY(link.isConnected());
        QCOMPARE(broker.log().count("New client connected"), 1);
    }

    // Failed attempts before the first connection must not slow the return after a loss.
    void retriesFromTheFirstWaitAfterAConnection()
    {
        const int port = freePort();
        MqttLink link(settings(port));
        QSignalSpy connected(&link, &MqttLink::connected);
        auto broker = std::make_unique<Broker>(port, false);
        QTRY_VERIFY_WITH_TIMEOUT(broker->running(), 5000);
        QVERIFY(!link.start());
        // Refused after waits of 100, 200, 400 and 800 ms; the next is 1600.
        QTRY_COMPARE_WITH_TIMEOUT(broker->log().count("not authorised"), 5, 5000);
        // Reached at the next attempt or the one after, whatever the broker's start took.
        broker = std::make_unique<Broker>(port, true);
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, 10000);
        broker.reset();
        QTRY_VERIFY_WITH_TIMEOUT(!link.isConnected(), 5000);
        broker = std::make_unique<Broker>(port, true);
        QTRY_VERIFY_WITH_TIMEOUT(broker->running(), 5000);
        // Well before the 3200 ms or more the failed attempts would have reached.
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 2, 2000);
    }

    // A broker that stopped answering holds an ending program up no longer than the goodbye.
    void endsWhileTheBrokerDoesNotAnswer()
    {
        const int port = freePort();
        Broker broker(port, true);
        QTRY_VERIFY_WITH_TIMEOUT(broker.running(), 5000);
        MqttLink link(settings(port));
        QSignalSpy connected(&link, &MqttLink::connected);
        QVERIFY(!link.start());
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, 5000);
        broker.freeze();
        QVERIFY(link.publish(QStringLiteral("tirvel/test/event"), "{}", false));
        QElapsedTimer took;
        took.start();
        link.finish(QStringLiteral("tirvel/test/status"), "offline");
        QVERIFY(link.end());
        QCOMPARE_LT(took.elapsed(), GOODBYE_WAIT_MS + WorkerThread::END_WAIT_MS + 500);
    }
};

TIRVEL_TEST_MAIN(TestMqttLink)
#include "tst_mqtt_link.moc"
