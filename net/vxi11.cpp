#include "vxi11.h"

#include "rpc.h"

namespace rfgen::vxi11 {

using rpc::XdrReader;
using rpc::XdrWriter;

bool decode(const QByteArray &args, CreateLinkParams &p, quint32 maxData) {
    XdrReader in(args);
    return in.i32(p.clientId) && in.boolean(p.lockDevice) && in.u32(p.lockTimeout) &&
           in.bytes(p.device, maxData) && in.atEnd();
}

bool decode(const QByteArray &args, WriteParams &p, quint32 maxData) {
    XdrReader in(args);
    return in.u32(p.link) && in.u32(p.ioTimeout) && in.u32(p.lockTimeout) && in.u32(p.flags) &&
           in.bytes(p.data, maxData) && in.atEnd();
}

bool decode(const QByteArray &args, ReadParams &p) {
    XdrReader in(args);
    qint32 termChar = 0;
    const bool ok = in.u32(p.link) && in.u32(p.requestSize) && in.u32(p.ioTimeout) &&
                    in.u32(p.lockTimeout) && in.u32(p.flags) && in.i32(termChar) && in.atEnd();
    p.termChar = char(termChar);
    return ok;
}

bool decode(const QByteArray &args, GenericParams &p) {
    XdrReader in(args);
    return in.u32(p.link) && in.u32(p.flags) && in.u32(p.lockTimeout) && in.u32(p.ioTimeout) &&
           in.atEnd();
}

bool decode(const QByteArray &args, LockParams &p) {
    XdrReader in(args);
    return in.u32(p.link) && in.u32(p.flags) && in.u32(p.lockTimeout) && in.atEnd();
}

bool decodeLink(const QByteArray &args, quint32 &link) {
    XdrReader in(args);
    return in.u32(link) && in.atEnd();
}

QByteArray createLinkResult(Error error, quint32 link, quint16 abortPort, quint32 maxRecvSize) {
    return XdrWriter(16).i32(error).u32(link).u32(abortPort).u32(maxRecvSize).result();
}

QByteArray writeResult(Error error, quint32 size) {
    return XdrWriter(8).i32(error).u32(size).result();
}

QByteArray readResult(Error error, qint32 reasons, const QByteArray &data) {
    return XdrWriter(16 + int(data.size())).i32(error).i32(reasons).bytes(data).result();
}

QByteArray readStbResult(Error error, quint8 statusByte) {
    return XdrWriter(8).i32(error).u32(statusByte).result();
}

QByteArray errorResult(Error error) {
    return XdrWriter(4).i32(error).result();
}

QByteArray docmdResult(Error error) {
    return XdrWriter(8).i32(error).u32(0).result();
}

} // namespace rfgen::vxi11
