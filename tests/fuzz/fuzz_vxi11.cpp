// libFuzzer target for the VXI-11 service: arbitrary bytes arrive, after a
// create_link of inst0, on a relayed connection as from a client, so record
// marking, the RPC header, XDR lengths, link ids and the lock all see them.
// Besides crashes and sanitizer reports it checks that every reply is a
// whole record answering a call, and that a client that hangs up leaves no
// link and no lock behind.
#include "controllock.h"
#include "generator.h"
#include "require.h"
#include "rpc.h"
#include "vxi11.h"
#include "vxi11server.h"

#include <QCoreApplication>
#include <QLocalSocket>
#include <QTemporaryDir>

#include <memory>

using namespace rfgen;

namespace {

QByteArray createLinkCall() {
    rpc::XdrWriter call(128);
    call.u32(1).u32(0).u32(2).u32(vxi11::coreProgram).u32(vxi11::version).u32(vxi11::CreateLink);
    call.u32(0).u32(0).u32(0).u32(0);         // null credentials and verifier
    call.i32(7).u32(0).u32(0).bytes("inst0"); // client id, no lock, no timeout
    return rpc::withRecordMark(call.result());
}

struct World {
    int argc = 1;
    char name[8] = "fuzz";
    char *argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    QTemporaryDir dir;
    Orvex driver; // no instrument connected: settings fail, the protocol does not
    Vxi11Server server{[this](const QString &device) {
        return device == "inst0" ? Vxi11Target{&driver, {}} : Vxi11Target{};
    }};
    World() { require(server.listenLocal(dir.filePath("inst0"), 1), "listens"); }
};

// Every reply is one or more whole records, each an RPC reply.
void checkReplies(const QByteArray &bytes) {
    rpc::RecordReader reader(1 << 20);
    reader.append(bytes);
    QByteArray record;
    while (reader.next(record) == rpc::RecordReader::Record) {
        rpc::XdrReader in(record);
        quint32 xid = 0, direction = 0;
        require(in.u32(xid) && in.u32(direction) && direction == 1, "a reply that is no reply");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static World world;
    QLocalSocket client;
    client.connectToServer(world.dir.filePath("inst0"));
    require(client.waitForConnected(1000), "connects");
    client.write("10.0.0.1:1\n" + createLinkCall() +
                 QByteArray(reinterpret_cast<const char *>(data), int(size)));
    client.flush();
    while (world.server.connectionCount() == 0)
        QCoreApplication::processEvents();
    QByteArray replies;
    // What the server does with the input, until it has nothing left to read.
    for (int idle = 0; idle < 50 && client.state() == QLocalSocket::ConnectedState; ++idle) {
        QCoreApplication::processEvents();
        if (client.waitForReadyRead(0)) {
            replies += client.readAll();
            idle = 0;
        }
    }
    replies += client.readAll();
    checkReplies(replies);
    client.abort();
    while (world.server.connectionCount() > 0)
        QCoreApplication::processEvents();
    require(world.server.linkCount() == 0, "a link outlives its connection");
    require(!world.driver.controlLock().isHeld(), "a lock outlives its holder");
    return 0;
}
