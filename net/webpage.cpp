#include "webpage.h"

#include "models.h"

#include <QHostAddress>

namespace rfgen {

namespace {

const char style[] = R"(body{font:16px/1.4 sans-serif;margin:1em;color:#111;background:#fff}
h1{font-size:1.3em}table{border-collapse:collapse;width:100%}
th,td{border-bottom:1px solid #ccc;padding:.4em;text-align:left;vertical-align:top}
td:first-child{min-width:10em}td.value{font:1.1em monospace;white-space:nowrap}
small{color:#555;font-family:sans-serif}.stale td.value{color:#999}
p.note{color:#555;font-size:.9em}
@media (max-width:700px){thead{display:none}tr{display:block;border:1px solid #ccc;
margin-bottom:1em;padding:.3em}td,td.value{display:block;border:0;padding:.2em;
white-space:normal}td::before{content:attr(data-label) ": ";font:bold 16px sans-serif}}
)";

// The rows again once a second, without reloading the page; they come
// escaped from the bridge, so nothing from an instrument becomes markup.
const char script[] = R"("use strict";
const rows = document.getElementById("rows");
let shown = null;
async function refresh() {
  try {
    const answer = await fetch("/rows", {cache: "no-store"});
    const html = answer.ok ? await answer.text() : shown;
    if (html !== shown)
      rows.innerHTML = shown = html;
    document.body.classList.toggle("stale", !answer.ok);
  } catch (lost) {
    document.body.classList.add("stale");
  }
  setTimeout(refresh, 1000);
}
setTimeout(refresh, 1000);
)";

const QString unknown = QStringLiteral("\u2014");

QString fixed(double value, int decimals, const char *unit) {
    return std::isfinite(value) ? QString::number(value, 'f', decimals) + ' ' + unit : unknown;
}

QString levelText(const InstrumentStatus &s) {
    const ModelSpec *spec = modelSpec(s.model);
    const QString level = spec && spec->levelInDbm ? fixed(voltsToDbm(s.amplitudeV), 2, "dBm")
                                                   : fixed(s.amplitudeV, 3, "V");
    return level + "<br/><small>attenuation " + fixed(s.attenuationDb, 1, "dB") + "</small>";
}

QString outputText(int output) {
    return output < 0 ? unknown : output ? QStringLiteral("on") : QStringLiteral("off");
}

QStringList resources(const Site &site, const InstrumentStatus &s, const QString &host) {
    QStringList list{QStringLiteral("TCPIP::%1::%2::SOCKET").arg(host).arg(s.tcpPort)};
    if (site.vxi11)
        list << QStringLiteral("TCPIP::%1::%2::INSTR").arg(host, s.name);
    return list;
}

QString cell(const char *label, const QString &html, const char *kind = "") {
    return QStringLiteral("<td data-label=\"%1\"%2>%3</td>")
        .arg(label, *kind ? QStringLiteral(" class=\"%1\"").arg(kind) : QString(), html);
}

QString row(const Site &site, const InstrumentStatus &s) {
    const Identity id = identityOf(s.identification);
    const QString who = QStringLiteral("%1 %2<br/><small>serial %3, firmware %4</small>")
                            .arg(escaped(id.manufacturer), escaped(id.model),
                                 escaped(id.serialNumber), escaped(id.firmware));
    QStringList visa;
    for (const QString &resource : resources(site, s, site.host))
        visa << escaped(resource);
    return "<tr>" + cell("Instrument", s.identification.isEmpty() ? unknown : who) +
           cell("Serial port", escaped(s.port)) + cell("VISA", visa.join("<br/>")) +
           cell("Lock", s.lockHolder.isEmpty() ? QStringLiteral("free") : escaped(s.lockHolder)) +
           cell("Clients", QString::number(s.clients)) +
           cell("Frequency", fixed(s.frequencyHz / 1e6, 6, "MHz"), "value") +
           cell("Level", levelText(s), "value") + cell("Output", outputText(s.output), "value") +
           "</tr>\n";
}

QString rows(const Site &site) {
    QString html;
    for (const InstrumentStatus &s : site.instruments)
        html += row(site, s);
    return html.isEmpty() ? QStringLiteral("<tr><td colspan=\"8\">No instrument yet.</td></tr>\n")
                          : html;
}

QString page(const Site &site) {
    const QString title = escaped("RF signal generators on " + site.host);
    return QStringLiteral(
               "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
               "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">\n"
               "<title>%1</title><link rel=\"stylesheet\" href=\"/page.css\"></head>\n"
               "<body><h1>%1</h1>\n<table><thead><tr><th>Instrument</th><th>Serial port</th>"
               "<th>VISA</th><th>Lock</th><th>Clients</th><th>Frequency</th><th>Level</th>"
               "<th>Output</th></tr></thead>\n<tbody id=\"rows\">\n%2</tbody></table>\n"
               "<p class=\"note\">Read-only. The values are what the instruments report, "
               "kept current every second. Identification for LXI tools: "
               "<a href=\"/lxi/identification\">/lxi/identification</a>. rfgen %3</p>\n"
               "<script src=\"/page.js\"></script></body></html>\n")
        .arg(title, rows(site), escaped(site.version));
}

QString element(const QString &name, const QString &text) {
    return QStringLiteral("  <%1>%2</%1>\n").arg(name, escaped(text));
}

QString siteUrl(const Site &site, const QString &path) {
    return QStringLiteral("http://%1:%2%3").arg(site.host).arg(site.httpPort).arg(path);
}

// One Interface per address of the host, naming the instruments' resources there.
QString interfaces(const Site &site, const QList<InstrumentStatus> &described) {
    QString xml;
    for (const QString &address : site.addresses) {
        const QString ipType =
            QHostAddress(address).protocol() == QAbstractSocket::IPv6Protocol ? "IPv6" : "IPv4";
        const QString host = ipType == "IPv6" ? '[' + address + ']' : address;
        xml += QStringLiteral("  <Interface xsi:type=\"NetworkInformation\" "
                              "InterfaceType=\"LXI\" IPType=\"%1\" InterfaceName=\"%2\">\n")
                   .arg(ipType, escaped(address));
        for (const InstrumentStatus &s : described)
            for (const QString &resource : resources(site, s, host))
                xml += "  " + element("InstrumentAddressString", resource);
        xml += "  " + element("Hostname", site.host) + "  " + element("IPAddress", address) +
               "  </Interface>\n";
    }
    return xml;
}

QByteArray identificationXml(const Site &site, const Identity &id, const QString &path,
                             const QList<InstrumentStatus> &described, const QString &devices,
                             const QString &description) {
    QString xml = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<LXIDevice xmlns=\"http://www.lxistandard.org/InstrumentIdentification/1.0\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n");
    xml += element("Manufacturer", id.manufacturer) + element("Model", id.model) +
           element("SerialNumber", id.serialNumber) + element("FirmwareRevision", id.firmware) +
           element("ManufacturerDescription", description) +
           element("HomepageURL", siteUrl(site, "/")) + element("DriverURL", siteUrl(site, "/")) +
           devices + element("IdentificationURL", siteUrl(site, path)) +
           interfaces(site, described) + element("LXIVersion", "1.5") + "</LXIDevice>\n";
    return xml.toUtf8();
}

// The bridge of --all itself, with a DeviceURI for each instrument's own document.
QByteArray rackIdentification(const Site &site) {
    QString devices = "  <ConnectedDevices>\n";
    for (const InstrumentStatus &s : site.instruments)
        devices += "  " + element("DeviceURI", siteUrl(site, "/lxi/identification/" + s.name));
    devices += "  </ConnectedDevices>\n";
    const Identity bridge{"rfgen", "rfgen serve --all", site.host, site.version};
    return identificationXml(site, bridge, "/lxi/identification", {}, devices,
                             "Bridge to the RF signal generators of " + site.host);
}

WebResponse identification(const Site &site, const QString &path) {
    const QString name = path.mid(QStringLiteral("/lxi/identification/").size());
    for (const InstrumentStatus &s : site.instruments)
        if ((s.name == name || (!site.rack && name.isEmpty())) && !s.identification.isEmpty())
            return {200, "text/xml; charset=utf-8",
                    identificationXml(site, identityOf(s.identification), path, {s}, {},
                                      "RF signal generator bridged by rfgen " + site.version)};
    if (site.rack && name.isEmpty())
        return {200, "text/xml; charset=utf-8", rackIdentification(site)};
    return {404, "text/plain; charset=utf-8", "No such instrument here now.\n"};
}

} // namespace

QString escaped(const QString &text) {
    QString clean = text;
    for (QChar &c : clean)
        if (c.unicode() < 0x20 || c.unicode() >= 0xFFFE)
            c = QChar::ReplacementCharacter;
    return clean.toHtmlEscaped().replace('\'', "&#39;");
}

WebResponse webResponse(const Site &site, const QByteArray &path) {
    if (path == "/")
        return {200, "text/html; charset=utf-8", page(site).toUtf8()};
    if (path == "/rows")
        return {200, "text/html; charset=utf-8", rows(site).toUtf8()};
    if (path == "/page.css")
        return {200, "text/css; charset=utf-8", style};
    if (path == "/page.js")
        return {200, "text/javascript; charset=utf-8", script};
    if (path == "/lxi/identification" || path.startsWith("/lxi/identification/"))
        return identification(site, QString::fromUtf8(path));
    return {404, "text/plain; charset=utf-8", "Not found.\n"};
}

} // namespace rfgen
