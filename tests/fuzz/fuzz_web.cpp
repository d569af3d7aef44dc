// libFuzzer target for the bridge's web page: an instrument's identification
// (which the instrument, not rfgen, decides) and a request path, both
// arbitrary. Besides sanitizer reports it checks that the identification
// document is well-formed XML that gives the fields back, that the rows hold
// no markup but the page's own, and that a status line survives its trip
// from a bridge to the supervisor.
#include "lanstatus.h"
#include "require.h"
#include "webpage.h"

#include <QSet>
#include <QXmlStreamReader>

using namespace rfgen;

namespace {

// The text of each element named `name`, in order; aborts on malformed XML.
QStringList elementTexts(const QByteArray &xml, const QString &name, QSet<QString> *names) {
    QXmlStreamReader reader(xml);
    QStringList texts;
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (names)
            names->insert(reader.name().toString());
        if (reader.name() == name)
            texts << reader.readElementText(QXmlStreamReader::IncludeChildElements);
    }
    require(!reader.hasError(), "well-formed XML");
    return texts;
}

Site siteWith(const QString &identification) {
    InstrumentStatus fuzzed;
    fuzzed.name = "inst1";
    fuzzed.port = identification.left(8);
    fuzzed.model = 1;
    fuzzed.identification = identification;
    fuzzed.tcpPort = 5026;
    fuzzed.lockHolder = identification.right(8);
    fuzzed.frequencyHz = 1e8;
    InstrumentStatus plain = fuzzed;
    plain.name = "inst0";
    plain.identification = "ORVEX,OG-6000,1,1.4.2";
    return {"host", 8080, true, true, "2", {"10.0.0.1"}, {plain, fuzzed}};
}

// What the fields read back as: no control character.
QString asXmlKeepsIt(const QString &text) {
    QString kept = text;
    for (QChar &c : kept)
        if (c.unicode() < 0x20 || c.unicode() >= 0xFFFE)
            c = QChar::ReplacementCharacter;
    return kept;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    const int split = input.indexOf('\n');
    const QString identification = QString::fromUtf8(input.left(split < 0 ? input.size() : split));
    const QByteArray path = split < 0 ? QByteArray("/") : input.mid(split + 1);
    const Site site = siteWith(identification);

    const WebResponse own = webResponse(site, "/lxi/identification/inst1");
    require(own.status == 200 || identification.isEmpty(), "the document of a known instrument");
    if (own.status == 200) {
        const QString serial = elementTexts(own.body, "SerialNumber", nullptr).value(0);
        require(serial == asXmlKeepsIt(identityOf(identification).serialNumber),
                "the serial number read back");
    }
    elementTexts(webResponse(site, "/lxi/identification").body, "DeviceURI", nullptr);
    QSet<QString> names;
    elementTexts("<tbody>" + webResponse(site, "/rows").body + "</tbody>", "td", &names);
    require((names - QSet<QString>{"tbody", "tr", "td", "br", "small"}).isEmpty(),
            "no markup from an instrument in the rows");
    webResponse(site, path);

    InstrumentStatus back;
    const InstrumentStatus sent = site.instruments.back();
    require(InstrumentStatus::fromLine(sent.toLine(), back) && back == sent, "the status line");
    return 0;
}
