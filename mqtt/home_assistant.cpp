#include "home_assistant.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace tirvel {

QString tirvelTopic(const QString &name, const QString &leaf)
{
    return QStringLiteral("tirvel/%1/%2").arg(name, leaf);
}

QList<DiscoveryMessage> discoveryMessages(
    const QString &prefix, const QString &name, const QString &version)
{
    const QJsonObject device {
        {QStringLiteral("identifiers"), QJsonArray {QStringLiteral("tirvel_") + name}},
        {QStringLiteral("name"), name},
        {QStringLiteral("manufacturer"), QStringLiteral("Tirvel")},
        {QStringLiteral("model"), QStringLiteral("Tirvel")},
        {QStringLiteral("sw_version"), version},
    };
    const auto entity = [&](const QString &component, const QString &object, const QString &title,
                            QJsonObject fields) {
        fields.insert(QStringLiteral("name"), title);
        fields.insert(
            QStringLiteral("unique_id"), QStringLiteral("tirvel_%1_%2").arg(name, object));
        // The entity id Home Assistant gives it unless the user chooses another.
        fields.insert(QStringLiteral("default_entity_id"),
            QStringLiteral("%1.tirvel_%2_%3").arg(component, name, object));
        fields.insert(
            QStringLiteral("availability_topic"), tirvelTopic(name, QStringLiteral("status")));
        fields.insert(QStringLiteral("payload_available"), QStringLiteral("online"));
        fields.insert(QStringLiteral("payload_not_available"), QStringLiteral("offline"));
        fields.insert(QStringLiteral("device"), device);
        return DiscoveryMessage {
            QStringLiteral("%1/%2/tirvel_%3/%4/config").arg(prefix, component, name, object),
            QJsonDocument(fields).toJson(QJsonDocument::Compact)};
    };
    const QString on = QStringLiteral("ON");
    const QString off = QStringLiteral("OFF");
    return {
        entity(QStringLiteral("binary_sensor"), QStringLiteral("motion"), QStringLiteral("Rörelse"),
            {{QStringLiteral("device_class"), QStringLiteral("motion")},
                {QStringLiteral("state_topic"), tirvelTopic(name, QStringLiteral("motion"))},
                {QStringLiteral("payload_on"), on}, {QStringLiteral("payload_off"), off}}),
        entity(QStringLiteral("binary_sensor"), QStringLiteral("camera"), QStringLiteral("Kamera"),
            {{QStringLiteral("device_class"), QStringLiteral("connectivity")},
                {QStringLiteral("entity_category"), QStringLiteral("diagnostic")},
                {QStringLiteral("state_topic"), tirvelTopic(name, QStringLiteral("camera"))},
                {QStringLiteral("payload_on"), on}, {QStringLiteral("payload_off"), off}}),
        entity(QStringLiteral("image"), QStringLiteral("picture"), QStringLiteral("Senaste bild"),
            {{QStringLiteral("image_topic"), tirvelTopic(name, QStringLiteral("picture"))},
                {QStringLiteral("content_type"), QStringLiteral("image/png")}}),
        entity(QStringLiteral("image"), QStringLiteral("snapshot"), QStringLiteral("Kamerans bild"),
            {{QStringLiteral("image_topic"), tirvelTopic(name, QStringLiteral("snapshot"))},
                {QStringLiteral("content_type"), QStringLiteral("image/jpeg")}}),
        entity(QStringLiteral("switch"), QStringLiteral("watch"), QStringLiteral("Bevaka"),
            {{QStringLiteral("command_topic"), tirvelTopic(name, QStringLiteral("watch/set"))},
                {QStringLiteral("state_topic"), tirvelTopic(name, QStringLiteral("watch"))},
                {QStringLiteral("payload_on"), on}, {QStringLiteral("payload_off"), off}}),
        entity(QStringLiteral("number"), QStringLiteral("sensitivity"),
            QStringLiteral("Känslighet"),
            {{QStringLiteral("command_topic"),
                 tirvelTopic(name, QStringLiteral("sensitivity/set"))},
                {QStringLiteral("state_topic"), tirvelTopic(name, QStringLiteral("sensitivity"))},
                {QStringLiteral("min"), 0}, {QStringLiteral("max"), 100},
                {QStringLiteral("step"), 1}, {QStringLiteral("mode"), QStringLiteral("slider")},
                {QStringLiteral("entity_category"), QStringLiteral("config")}}),
    };
}

} // namespace tirvel
