#pragma once

#include "exchange.h"

#include <QList>
#include <QObject>
#include <QSerialPortInfo>
#include <QString>

#include <memory>

class GeneratorPrivate;
namespace rfgen {
struct ProbeResult;
class ControlLock;
struct AccessRules;
} // namespace rfgen

// Base of the instrument drivers. All calls come from the GUI thread; set
// operations are synchronous and bounded (500 ms), everything else is driven
// by the event loop.
class Generator : public QObject {
    Q_OBJECT

public:
    explicit Generator(QObject *parent = nullptr);
    ~Generator() override;

    // Virtual operations, in this order.
    virtual bool setState(bool on);
    virtual bool setAmplitude(double &volts);
    virtual bool setAttenuation(double &dB);
    virtual bool setFrequency(double &hz);
    virtual void setFrequencyGrid(int index);
    virtual int getFrequencyGrid();
    virtual int modelCode() const = 0;
    virtual void setLevelControl(int control);
    virtual int getLevelControl();

    static QList<QSerialPortInfo> getAvailablePorts();

    // Idle time before each poll (default 1000 ms); shorter for tests that
    // follow the instrument closely.
    void setPollInterval(int ms);
    void enableVerbose(bool on);
    bool isVerbose() const;
    bool isConnected() const;
    // False from a request the instrument did not answer until it answers again.
    bool isResponding() const;
    QString portName() const;

    void setFmMode(int kind);
    int getFmMode() const;
    bool startFm(double &startHz, double &stopHz, double &stepHz, double &periodS);
    // The sweep's bounds, step and period as startFm takes them, without
    // starting it (a recalled set-up).
    bool setFmSettings(double &startHz, double &stopHz, double &stepHz, double &periodS);
    void stopFm();

    void setTcpPort(int port);
    int getTcpPort() const;
    void startServer();
    void stopServer();
    bool isServerListening() const;
    int serverClientCount() const;

    // Identification reply of the connected instrument, empty while unknown.
    QString identification() const;

    // Runs one query line on the instrument (for the command engine); returns
    // false when no answer arrived in time. Not for the panel.
    bool query(const QByteArray &line, QByteArray &reply);
    // Sends a line that expects no answer.
    bool send(const QByteArray &line);
    // Power-on state (*RST) with the held level control and FM kind sent
    // again; reports every value that changed.
    void resetInstrument();

    // Whose lines the calls from now on send, for the exchanged() reports
    // (the panel's until told otherwise).
    void setExchangeOrigin(rfgen::Exchange::Origin origin, const QString &client = QString());

    // The instrument's SYST:LOCK, shared by the remote clients. While a client
    // holds it, the panel's calls that would change the instrument send
    // nothing and return false; switching the output off always goes through.
    rfgen::ControlLock &controlLock();
    // Where the server listens and whom it serves (see remoteserver.h); set
    // before startServer().
    void setAccessRules(const rfgen::AccessRules &rules);

signals:
    void error(QString message);
    void disconnected();
    void newFrequency(double hz);
    void newAmplitude(double volts);
    void newAttenuation(double dB);
    void newTFm(double seconds);
    void newState(bool on);
    void netControl(bool remote);
    // Every line sent to the instrument, with what came back; only built
    // while something is connected to it.
    void exchanged(const rfgen::Exchange &exchange);

protected:
    void openLink(const QSerialPortInfo &port);

private:
    friend class GeneratorPrivate;
    bool sendSweep(double &startHz, double &stopHz, double &stepHz, double &periodS, bool run);
    std::unique_ptr<GeneratorPrivate> d;
};

class Orvex : public Generator {
    Q_OBJECT
public:
    explicit Orvex(QObject *parent = nullptr);
    void connect(QSerialPortInfo &port);
    int modelCode() const override;
};

class Quendt : public Orvex {
    Q_OBJECT
public:
    explicit Quendt(QObject *parent = nullptr);
    int modelCode() const override;
};

class Pylar : public Generator {
    Q_OBJECT
public:
    explicit Pylar(QObject *parent = nullptr);
    void connect(QSerialPortInfo &port);
    int modelCode() const override;
};

class Searcher {
public:
    // Probes every port at once (150 ms bound). Returns the number of
    // recognised instruments; with exactly one, fills port and model; otherwise
    // model is -1 (port kept as given with two or more).
    static int autosearch(QSerialPortInfo &port, int &model);
    // As above; results gets every port's probe result, which tells why no
    // one instrument was found (see probe.h).
    static int autosearch(QSerialPortInfo &port, int &model, QList<rfgen::ProbeResult> &results);
    // Probes one port; stores the model code (-1 when not recognised).
    static bool determineModel(QSerialPortInfo port, int &model);
};
