#pragma once

#include <QByteArray>

#include <rpc/xdr.h>

// ONC RPC over TCP: record marking, the call header and the reply header.
// Pure byte handling on libtirpc's XDR streams, no I/O, so any input can be
// fed to it in a test or a fuzzer.
namespace rfgen::rpc {

// Reads XDR items from a byte array; every length is checked against what
// is left before anything is copied.
class XdrReader {
public:
    explicit XdrReader(const QByteArray &bytes);
    ~XdrReader();
    XdrReader(const XdrReader &) = delete;
    XdrReader &operator=(const XdrReader &) = delete;
    bool u32(quint32 &value);
    bool i32(qint32 &value);
    bool boolean(bool &value);
    // Variable-length opaque data or a string of at most max bytes.
    bool bytes(QByteArray &value, quint32 max);
    int position();
    bool atEnd() { return position() == size; }

private:
    const QByteArray data; // shared with the caller's, never written
    XDR xdrs;
    int size;
};

// Writes XDR items into a buffer of a fixed capacity.
class XdrWriter {
public:
    explicit XdrWriter(int capacity);
    ~XdrWriter();
    XdrWriter(const XdrWriter &) = delete;
    XdrWriter &operator=(const XdrWriter &) = delete;
    XdrWriter &u32(quint32 value);
    XdrWriter &i32(qint32 value);
    XdrWriter &bytes(const QByteArray &value);
    // What was written; empty if anything did not fit.
    QByteArray result();

private:
    QByteArray buffer;
    XDR xdrs;
    bool ok = true;
};

// Takes a record-marked stream apart into whole records. A fragment is
// accepted only once it has all arrived, and none may make the record longer
// than the limit, so an announced length never costs memory by itself.
class RecordReader {
public:
    enum Result { Incomplete, Record, Broken };
    explicit RecordReader(int maxRecordBytes) : limit(maxRecordBytes) {}
    void append(const QByteArray &bytes) { pending += bytes; }
    Result next(QByteArray &record);
    // Bytes read but not yet part of a record (handed on by a relay).
    QByteArray takeUnread();
    int bufferedBytes() const { return int(pending.size()); }
    int maxRecordBytes() const { return limit; }

private:
    int limit;
    QByteArray pending;
    QByteArray partial; // fragments of the record so far
};

QByteArray withRecordMark(const QByteArray &record);

struct Call {
    quint32 xid = 0;
    quint32 program = 0, version = 0, procedure = 0;
    bool rpcVersionOk = true;
    QByteArray arguments;
};

// False when the record is no call at all (nothing is answered to it).
bool decodeCall(const QByteArray &record, Call &call);

enum AcceptStat : quint32 {
    Success = 0,
    ProgramUnavailable = 1,
    ProgramMismatch = 2,
    ProcedureUnavailable = 3,
    GarbageArguments = 4,
};

// The whole reply record: an accepted reply with the procedure's encoded
// results (Success), or the given refusal.
QByteArray acceptedReply(quint32 xid, AcceptStat stat, const QByteArray &results = QByteArray());
QByteArray programMismatchReply(quint32 xid, quint32 low, quint32 high);
QByteArray rpcMismatchReply(quint32 xid);

} // namespace rfgen::rpc
