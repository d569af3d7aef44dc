#pragma once

#include <QByteArray>

// The VXI-11 core and abort channels' numbers and messages, decoded from and
// encoded to XDR. No I/O.
namespace rfgen::vxi11 {

constexpr quint32 coreProgram = 0x0607AF, abortProgram = 0x0607B0, version = 1;

enum Procedure : quint32 {
    Null = 0,
    DeviceAbort = 1, // the abort channel's
    CreateLink = 10,
    DeviceWrite = 11,
    DeviceRead = 12,
    DeviceReadStb = 13,
    DeviceTrigger = 14,
    DeviceClear = 15,
    DeviceRemote = 16,
    DeviceLocal = 17,
    DeviceLock = 18,
    DeviceUnlock = 19,
    DeviceEnableSrq = 20,
    DeviceDoCmd = 22,
    DestroyLink = 23,
    CreateIntrChan = 25,
    DestroyIntrChan = 26,
};

enum Error : qint32 {
    NoError = 0,
    SyntaxError = 1,
    DeviceNotAccessible = 3,
    InvalidLinkId = 4,
    ParameterError = 5,
    OperationNotSupported = 8,
    OutOfResources = 9,
    DeviceLocked = 11,
    NoLockHeld = 12,
    IoTimeout = 15,
    IoError = 17,
    Abort = 23,
};

enum Flag : quint32 { WaitLock = 1, End = 8, TermCharSet = 128 };
enum Reason : qint32 { RequestCount = 1, Character = 2, EndOfMessage = 4 };

constexpr quint32 maxDeviceName = 256;

struct CreateLinkParams {
    qint32 clientId = 0;
    bool lockDevice = false;
    quint32 lockTimeout = 0;
    QByteArray device;
};

struct WriteParams {
    quint32 link = 0, ioTimeout = 0, lockTimeout = 0, flags = 0;
    QByteArray data;
};

struct ReadParams {
    quint32 link = 0, requestSize = 0, ioTimeout = 0, lockTimeout = 0, flags = 0;
    char termChar = '\n';
};

// device_readstb, _trigger, _clear, _remote, _local.
struct GenericParams {
    quint32 link = 0, flags = 0, lockTimeout = 0, ioTimeout = 0;
};

struct LockParams {
    quint32 link = 0, flags = 0, lockTimeout = 0;
};

// False when the arguments do not decode exactly (garbage arguments).
bool decode(const QByteArray &args, CreateLinkParams &params, quint32 maxData);
bool decode(const QByteArray &args, WriteParams &params, quint32 maxData);
bool decode(const QByteArray &args, ReadParams &params);
bool decode(const QByteArray &args, GenericParams &params);
bool decode(const QByteArray &args, LockParams &params);
// device_unlock, destroy_link and device_abort take a link id alone.
bool decodeLink(const QByteArray &args, quint32 &link);

QByteArray createLinkResult(Error error, quint32 link, quint16 abortPort, quint32 maxRecvSize);
QByteArray writeResult(Error error, quint32 size);
QByteArray readResult(Error error, qint32 reasons, const QByteArray &data);
QByteArray readStbResult(Error error, quint8 statusByte);
QByteArray errorResult(Error error);
QByteArray docmdResult(Error error);

} // namespace rfgen::vxi11
