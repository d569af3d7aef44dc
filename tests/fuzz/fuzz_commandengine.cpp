// libFuzzer target for the text command layer: arbitrary bytes, split into
// lines at LF, go to the remote-control command engine of a generator with no
// instrument connected, and to each simulated instrument's line handler. Both
// share the command parser. Besides crashes and sanitizer reports, the fuzzer
// checks what a client relies on: every query has its field in a single reply
// line, a line without a query gets no reply, and error queues stay bounded.
#include "commandengine.h"
#include "generator.h"
#include "instrument.h"
#include "models.h"
#include "scpi.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

using namespace rfgen;

void require(bool condition, const char *what, const QByteArray &line) {
    if (condition)
        return;
    std::fprintf(stderr, "broken: %s\nline (%d bytes): %s\n", what, int(line.size()),
                 line.toHex().constData());
    std::abort();
}

// Queries in a line as the engine counts them, well-formed or not.
int queryCount(const QByteArray &line) {
    int count = 0;
    for (const QByteArray &text : scpi::splitCommands(line)) {
        scpi::Command command;
        scpi::parseCommand(text, command);
        count += command.query ? 1 : 0;
    }
    return count;
}

void checkReply(const QByteArray &line, const QByteArray &reply, bool nullWhenNoQuery) {
    const int queries = queryCount(line);
    require(!reply.contains('\n'), "a reply spans more than one line", line);
    if (queries == 0) {
        require(nullWhenNoQuery ? reply.isNull() : reply.isEmpty(), "reply without a query", line);
        return;
    }
    require(reply.count(';') + 1 == queries, "a query without its own field", line);
}

void checkQueue(scpi::ErrorQueue &queue, const QByteArray &line) {
    require(queue.size() <= scpi::ErrorQueue::capacity, "error queue over its bound", line);
    while (queue.size() > 0)
        require(scpi::errorText(queue.pop()) != "Unknown error", "unknown error code", line);
}

QList<QByteArray> linesOf(const QByteArray &bytes) {
    QList<QByteArray> lines = bytes.split('\n');
    for (QByteArray &line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    return lines;
}

// Drivers of every model, never connected: every command takes the path a
// client sees while no instrument is there.
Generator &disconnectedGenerator(int model) {
    static const std::unique_ptr<Generator> generators[] = {
        std::make_unique<Orvex>(), std::make_unique<Pylar>(), std::make_unique<Quendt>()};
    return *generators[model];
}

void fuzzEngine(const QList<QByteArray> &lines, int model) {
    CommandEngine engine(&disconnectedGenerator(model));
    for (const QByteArray &line : lines) {
        checkReply(line, engine.execute(line), true);
        require(engine.errors().size() <= scpi::ErrorQueue::capacity, "engine queue unbounded",
                line);
    }
    checkQueue(engine.errors(), lines.value(0));
}

void fuzzInstrument(const QByteArray &bytes, const QList<QByteArray> &lines, int model) {
    sim::Instrument byLine(model);
    for (const QByteArray &line : lines)
        checkReply(line, byLine.handleLine(line), false);
    require(!byLine.setting("SYST:ERR?").isEmpty(), "instrument lost its error queue", bytes);

    // The byte stream as it comes over the serial link: at most one reply
    // line per LF, each ended by LF.
    sim::Instrument byStream(model);
    const QByteArray out = byStream.receive(bytes);
    require(out.isEmpty() || out.endsWith('\n'), "reply not ended by LF", bytes);
    require(out.count('\n') <= bytes.count('\n'), "more replies than lines", bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    const QList<QByteArray> lines = linesOf(bytes);
    for (int model : {OrvexModel, PylarModel, QuendtModel}) {
        fuzzEngine(lines, model);
        fuzzInstrument(bytes, lines, model);
    }
    return 0;
}
