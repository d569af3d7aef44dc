#include "lanstatus.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace rfgen {

namespace {

const QByteArray linePrefix = "status ";

bool sameNumber(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

QJsonValue number(double value) {
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue();
}

double numberOf(const QJsonValue &value) {
    return value.isDouble() ? value.toDouble() : NAN;
}

} // namespace

bool InstrumentStatus::operator==(const InstrumentStatus &o) const {
    return name == o.name && port == o.port && model == o.model &&
           identification == o.identification && tcpPort == o.tcpPort &&
           lockHolder == o.lockHolder && clients == o.clients &&
           sameNumber(frequencyHz, o.frequencyHz) && sameNumber(amplitudeV, o.amplitudeV) &&
           sameNumber(attenuationDb, o.attenuationDb) && output == o.output;
}

QByteArray InstrumentStatus::toLine() const {
    const QJsonObject object{{"name", name},
                             {"port", port},
                             {"model", model},
                             {"idn", identification},
                             {"tcpPort", tcpPort},
                             {"lock", lockHolder},
                             {"clients", clients},
                             {"frequency", number(frequencyHz)},
                             {"amplitude", number(amplitudeV)},
                             {"attenuation", number(attenuationDb)},
                             {"output", output}};
    return linePrefix + QJsonDocument(object).toJson(QJsonDocument::Compact);
}

bool InstrumentStatus::fromLine(const QByteArray &line, InstrumentStatus &status) {
    if (!line.startsWith(linePrefix))
        return false;
    const QJsonDocument document = QJsonDocument::fromJson(line.mid(linePrefix.size()));
    if (!document.isObject())
        return false;
    const QJsonObject o = document.object();
    status.name = o["name"].toString();
    status.port = o["port"].toString();
    status.model = o["model"].toInt(-1);
    status.identification = o["idn"].toString();
    status.tcpPort = o["tcpPort"].toInt();
    status.lockHolder = o["lock"].toString();
    status.clients = o["clients"].toInt();
    status.frequencyHz = numberOf(o["frequency"]);
    status.amplitudeV = numberOf(o["amplitude"]);
    status.attenuationDb = numberOf(o["attenuation"]);
    status.output = o["output"].toInt(-1);
    return true;
}

Identity identityOf(const QString &identification) {
    const QStringList fields = identification.split(',');
    return {fields.value(0).trimmed(), fields.value(1).trimmed(), fields.value(2).trimmed(),
            fields.mid(3).join(',').trimmed()};
}

} // namespace rfgen
