#pragma once

#include <QObject>

#include <csignal>

class QSocketNotifier;

// Turns SIGINT, SIGTERM and SIGHUP into the Qt signal received(), delivered by
// the event loop, so a program that is asked to stop can leave its loop and be
// taken apart as on a normal exit. One instance at a time; it restores the
// previous handlers when destroyed.
class ShutdownSignals : public QObject {
    Q_OBJECT

public:
    explicit ShutdownSignals(QObject *parent = nullptr);
    ~ShutdownSignals() override;

signals:
    void received(int signalNumber);

private:
    void readPending();

    static constexpr int watchedCount = 3;
    int pipeEnds[2] = {-1, -1};
    struct sigaction previous[watchedCount];
    QSocketNotifier *notifier = nullptr;
};
