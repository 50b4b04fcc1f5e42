#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace tirvel {

// Home Assistant's MQTT discovery: the configuration messages that make a Tirvel a device with a
// motion sensor, a connectivity sensor for its camera, an image of the last event and a switch
// for watching, all available while its status topic says online.
struct DiscoveryMessage
{
    QString topic;
    QByteArray payload;
};

QList<DiscoveryMessage> discoveryMessages(
    const QString &prefix, const QString &name, const QString &version);

// tirvel/NAME/…
QString tirvelTopic(const QString &name, const QString &leaf);

} // namespace tirvel
