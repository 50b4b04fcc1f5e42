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
    Broker(int port, bool anonymous)
    {
        QFile conf(m_dir.filePath(QStringLiteral("broker.conf")));
        if (conf.open(QIODevice::WriteOnly))
            conf.write(QStringLiteral("user root\npersistence false\nallow_anonymous %1\n"
                                      "listener %2 127.0.0.1\n")
                           .arg(anonymous ? "true" : "false")
                           .arg(port)
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
        if (!QFile::exists(QStringLiteral(MOSQUITTO_PATH)))
            QSKIP("no broker in build/mosquitto (scripts/test unpacks one)");
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
