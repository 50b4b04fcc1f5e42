#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace tirvel {

// How a link stands for a person: a broker that refuses Tirvel as it is set up goes on refusing
// until somebody changes something; one out of reach may come back by itself.
enum class LinkState { Connected, Unreachable, Refused };

// What the bridge needs of a connection to a broker, so that its rules can be tried without one.
// A link keeps itself connected; what it hears comes on the thread it lives on.
class BrokerLink : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    ~BrokerLink() override;

    // Retained messages are kept by the broker for those who subscribe later. False when there
    // is no connection to send it on.
    virtual bool publish(const QString &topic, const QByteArray &payload, bool retain) = 0;
    // Held for every later connection too.
    virtual void subscribe(const QString &topic) = 0;
    // The goodbye: publishes a last message, retained, and waits at most the link's goodbye wait
    // for the broker to take it.
    virtual void finish(const QString &topic, const QByteArray &payload) = 0;
    virtual bool isConnected() const = 0;

Q_SIGNALS:
    void connected();
    // Connected again while another client takes the id from Tirvel: the state goes out again,
    // and nothing is said, since the take-over was.
    void resumed();
    // Not connected, and why, in words; each reason once until connected again. The link tries
    // again by itself, the first time after retryMs.
    void down(const QString &why, tirvel::LinkState state, int retryMs);
    // A message was not sent, since its packet, of packetBytes, would be larger than the broker
    // takes: than limit, or, when the broker did not say its limit (0), than the ones it ended
    // connections on.
    void tooLarge(const QString &topic, qsizetype packetBytes, qsizetype limit);
    // retained: the broker kept it from before, rather than passing it on as it came.
    void messageArrived(const QString &topic, const QByteArray &payload, bool retained);
};

} // namespace tirvel
