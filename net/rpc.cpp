#include "rpc.h"

#include <QtEndian>

namespace rfgen::rpc {

namespace {
constexpr quint32 lastFragmentBit = 0x80000000u;
constexpr quint32 maxAuthBytes = 400; // an opaque_auth body's limit
enum : quint32 { CallMessage = 0, ReplyMessage = 1, Accepted = 0, Denied = 1, RpcMismatch = 0 };
} // namespace

XdrReader::XdrReader(const QByteArray &bytes) : data(bytes), size(int(bytes.size())) {
    // Decoding only reads: the bytes are not copied for a writable pointer.
    xdrmem_create(&xdrs, const_cast<char *>(data.constData()), u_int(size), XDR_DECODE);
}

XdrReader::~XdrReader() {
    xdr_destroy(&xdrs);
}

bool XdrReader::u32(quint32 &value) {
    u_int v = 0;
    const bool ok = xdr_u_int(&xdrs, &v);
    value = v;
    return ok;
}

bool XdrReader::i32(qint32 &value) {
    int v = 0;
    const bool ok = xdr_int(&xdrs, &v);
    value = v;
    return ok;
}

bool XdrReader::boolean(bool &value) {
    bool_t v = 0;
    const bool ok = xdr_bool(&xdrs, &v);
    value = v;
    return ok;
}

bool XdrReader::bytes(QByteArray &value, quint32 max) {
    quint32 length = 0;
    if (!u32(length) || length > max || length > quint32(size - position()))
        return false;
    value.resize(int(length));
    return xdr_opaque(&xdrs, value.data(), length);
}

int XdrReader::position() {
    return int(xdr_getpos(&xdrs));
}

XdrWriter::XdrWriter(int capacity) : buffer(capacity, '\0') {
    xdrmem_create(&xdrs, buffer.data(), u_int(capacity), XDR_ENCODE);
}

XdrWriter::~XdrWriter() {
    xdr_destroy(&xdrs);
}

XdrWriter &XdrWriter::u32(quint32 value) {
    u_int v = value;
    ok = ok && xdr_u_int(&xdrs, &v);
    return *this;
}

XdrWriter &XdrWriter::i32(qint32 value) {
    int v = value;
    ok = ok && xdr_int(&xdrs, &v);
    return *this;
}

XdrWriter &XdrWriter::bytes(const QByteArray &value) {
    char *p = const_cast<char *>(value.constData()); // only read when encoding
    u_int length = u_int(value.size());
    ok = ok && xdr_bytes(&xdrs, &p, &length, length);
    return *this;
}

QByteArray XdrWriter::result() {
    return ok ? buffer.left(int(xdr_getpos(&xdrs))) : QByteArray();
}

RecordReader::Result RecordReader::next(QByteArray &record) {
    for (;;) {
        if (pending.size() < 4)
            return Incomplete;
        const quint32 mark = qFromBigEndian<quint32>(pending.constData());
        const quint32 length = mark & ~lastFragmentBit;
        if (length > quint32(limit - partial.size()))
            return Broken;
        if (quint32(pending.size() - 4) < length)
            return Incomplete;
        partial += pending.mid(4, int(length));
        pending.remove(0, int(length) + 4);
        if (mark & lastFragmentBit) {
            record = partial;
            partial.clear();
            return Record;
        }
    }
}

QByteArray RecordReader::takeUnread() {
    QByteArray unread = pending;
    pending.clear();
    if (!partial.isEmpty()) { // fragments of a record begun: one fragment, not the last
        QByteArray mark(4, '\0');
        qToBigEndian<quint32>(quint32(partial.size()), mark.data());
        unread.prepend(mark + partial);
    }
    partial.clear();
    return unread;
}

QByteArray withRecordMark(const QByteArray &record) {
    QByteArray marked(4, '\0');
    qToBigEndian<quint32>(lastFragmentBit | quint32(record.size()), marked.data());
    return marked + record;
}

bool decodeCall(const QByteArray &record, Call &call) {
    XdrReader in(record);
    quint32 direction = 1, rpcVersion = 0;
    if (!in.u32(call.xid) || !in.u32(direction) || direction != CallMessage)
        return false;
    if (!in.u32(rpcVersion))
        return false;
    call.rpcVersionOk = rpcVersion == 2;
    if (!call.rpcVersionOk)
        return true;
    QByteArray credentials, verifier;
    quint32 credFlavor = 0, verfFlavor = 0;
    if (!in.u32(call.program) || !in.u32(call.version) || !in.u32(call.procedure) ||
        !in.u32(credFlavor) || !in.bytes(credentials, maxAuthBytes) || !in.u32(verfFlavor) ||
        !in.bytes(verifier, maxAuthBytes))
        return false;
    call.arguments = record.mid(in.position());
    return true;
}

namespace {
// xid, REPLY, MSG_ACCEPTED, a null verifier and the status.
XdrWriter &acceptedHeader(XdrWriter &out, quint32 xid, AcceptStat stat) {
    return out.u32(xid).u32(ReplyMessage).u32(Accepted).u32(0).u32(0).u32(stat);
}
} // namespace

QByteArray acceptedReply(quint32 xid, AcceptStat stat, const QByteArray &results) {
    XdrWriter out(24);
    return acceptedHeader(out, xid, stat).result() + (stat == Success ? results : QByteArray());
}

QByteArray programMismatchReply(quint32 xid, quint32 low, quint32 high) {
    XdrWriter out(32);
    return acceptedHeader(out, xid, ProgramMismatch).u32(low).u32(high).result();
}

QByteArray rpcMismatchReply(quint32 xid) {
    XdrWriter out(24);
    return out.u32(xid).u32(ReplyMessage).u32(Denied).u32(RpcMismatch).u32(2).u32(2).result();
}

} // namespace rfgen::rpc
