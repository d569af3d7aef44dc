// libFuzzer target for the text command layer: arbitrary bytes, split into lines
// at LF, go to the number parser, to the remote-control command engine of each
// model's driver with no instrument connected (two clients, sharing its lock), and to each
// simulated instrument. Besides crashes
// and sanitizer reports it checks what a client relies on: every query has its field in one reply
// line, a line without a query gets no reply, error queues stay bounded and hold only known codes.
// The same bytes as a saved set-up's file: what parses is written back as text that parses
// to the same set-up.
#include "commandengine.h"
#include "controllock.h"
#include "generator.h"
#include "instrument.h"
#include "models.h"
#include "require.h"
#include "scpi.h"
#include "setups.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace rfgen;

namespace {

int queryCount(const QByteArray &line) {
    int count = 0;
    for (const QByteArray &text : scpi::splitCommands(line)) {
        scpi::Command command;
        scpi::parseCommand(text, command);
        count += command.query ? 1 : 0;
    }
    return count;
}

// The engine answers a line without a query with a null reply, the
// instrument with an empty one.
void checkReply(const QByteArray &line, const QByteArray &reply, bool nullWhenNoQuery) {
    const int queries = queryCount(line);
    require(!reply.contains('\n'), "a reply spans more than one line", line);
    if (queries == 0)
        require(nullWhenNoQuery ? reply.isNull() : reply.isEmpty(), "reply without a query", line);
    else
        require(reply.count(';') + 1 == queries, "a query without its own field", line);
}

Generator &disconnectedDriver(int model) {
    static const std::unique_ptr<Generator> drivers[] = {
        std::make_unique<Orvex>(), std::make_unique<Pylar>(), std::make_unique<Quendt>()};
    return *drivers[model];
}

void checkSetupText(const QByteArray &bytes) {
    setups::Setup setup, again;
    QString why;
    if (!setups::parse(bytes, setup, why))
        return require(!why.isEmpty(), "a set-up refused without a reason", bytes);
    const QByteArray text = setups::text(setup);
    require(setups::parse(text, again, why), "a set-up's own text does not parse", bytes);
    require(setups::text(again) == text, "a set-up changes when written back", bytes);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    checkSetupText(bytes);
    QList<QByteArray> lines = bytes.split('\n');
    for (QByteArray &line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    // The engine checks numbers only once an instrument is there: their parser directly.
    for (const QByteArray &line : lines)
        for (scpi::Unit unit : {scpi::Unit::Hertz, scpi::Unit::Volt, scpi::Unit::Dbm,
                                scpi::Unit::Db, scpi::Unit::Second}) {
            scpi::NumericArgument argument;
            if (scpi::parseNumericArgument(line, unit, argument) == scpi::NoError &&
                argument.bound == scpi::Bound::None)
                require(std::isfinite(argument.value), "a number that is not finite", line);
        }
    for (int model : {OrvexModel, PylarModel, QuendtModel}) {
        auto engine = std::make_unique<CommandEngine>(&disconnectedDriver(model), "10.0.0.1:1");
        CommandEngine other(&disconnectedDriver(model), "10.0.0.2:2");
        sim::Instrument byLine(model);
        for (const QByteArray &line : lines) {
            checkReply(line, engine->execute(line), true);
            checkReply(line, other.execute(line), true);
            require(engine->errors().size() <= scpi::ErrorQueue::capacity, "queue unbounded", line);
            checkReply(line, byLine.handleLine(line), false);
        }
        while (engine->errors().size() > 0)
            require(scpi::errorText(engine->errors().pop()) != "Unknown error", "unknown code",
                    bytes);
        engine.reset();
        other.releaseLock();
        require(!disconnectedDriver(model).controlLock().isHeld(), "a lock outlived its client",
                bytes);
        require(!byLine.setting("SYST:ERR?").isEmpty(), "instrument lost its error queue", bytes);
        // Over the serial link: at most one reply line per LF, each ended by LF.
        const QByteArray out = sim::Instrument(model).receive(bytes);
        require(out.isEmpty() || out.endsWith('\n'), "reply not ended by LF", bytes);
        require(out.count('\n') <= bytes.count('\n'), "more replies than lines", bytes);
    }
    return 0;
}
