#pragma once

#include "testbed.h"

#include <QByteArray>
#include <QList>
#include <QMutex>

#include <memory>

namespace sim {

// A simulated generator of one model: the command set, limits, rounding and
// error queue of the real instrument, plus a control side for tests.
// Thread-safe: the testbed calls receive() from its I/O thread.
class Instrument : public Responder {
public:
    explicit Instrument(int modelCode, const QString &serial = QStringLiteral("SIM0001"));
    ~Instrument() override;

    QByteArray receive(const QByteArray &bytes) override;
    // Handles one complete line (without LF); returns the reply line without
    // LF, empty when the line held no query.
    QByteArray handleLine(const QByteArray &line);

    int modelCode() const;
    UsbIdentity usbIdentity() const;
    static UsbIdentity usbIdentityFor(int modelCode, const QString &serial);

    // Control side: values changed as if on the instrument itself.
    void setFrequency(double hz);
    void setAmplitude(double volts);
    void setAttenuation(double dB);
    void setOutput(bool on);
    void setSerial(const QString &serial); // as *IDN? names it; the USB identity stays
    void setFmPeriod(double seconds);
    double frequency() const;
    double amplitude() const;
    double attenuation() const;
    bool output() const;
    double fmPeriod() const;
    QByteArray setting(const QByteArray &query); // e.g. "FM:MODE?" -> "UP"

    // Stop answering (lines are consumed, nothing is sent back).
    void setSilent(bool silent);
    // Answer every query line with garbage bytes instead of the reply.
    void setGarbage(bool garbage);
    // The next reply goes out this late (the testbed's I/O thread waits).
    void delayNextReply(int milliseconds);
    // Every line received, in order.
    QList<QByteArray> receivedLines() const;
    // The same without the *IDN? queries a host may lead a request with to
    // get back in step after a missed answer.
    QList<QByteArray> receivedRequests() const;
    void clearReceivedLines();

private:
    struct State;
    mutable QMutex mutex;
    std::unique_ptr<State> s;
};

} // namespace sim
