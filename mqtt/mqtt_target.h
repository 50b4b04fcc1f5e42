#pragma once

#include <QString>

#include <optional>

namespace tirvel {

// Where the broker is, from mqtt://[user@]host[:port] or mqtts://… (TLS). A password never comes
// in the address, since other users can read a program's command line.
struct MqttTarget
{
    bool tls = false;
    QString host;
    int port = 1883;
    QString user;

    // The target, or what is wrong with the address in `problem`.
    static std::optional<MqttTarget> parse(const QString &url, QString &problem);
    // host:port, with an IPv6 address in brackets.
    QString address() const;
};

// The name this machine's Tirvel has on the broker by default: the host name, with every
// character Home Assistant does not take in an id replaced by '_'.
QString defaultMqttName();

} // namespace tirvel
