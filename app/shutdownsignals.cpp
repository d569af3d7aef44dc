#include "app/shutdownsignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

const int watchedSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Written only while no handler is installed.
volatile int handlerWriteEnd = -1;

// A signal handler may do almost nothing: it only hands the number to the
// event loop through the pipe.
void writeSignalNumber(int signalNumber) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (write(handlerWriteEnd, &byte, 1) < 0) {
        // The pipe is full: enough requests are already waiting.
    }
    errno = savedErrno;
}

} // namespace

ShutdownSignals::ShutdownSignals(QObject *parent) : QObject(parent), previous() {
    if (pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning("ShutdownSignals: no pipe, termination signals keep their default action");
        return;
    }
    handlerWriteEnd = pipeEnds[1];
    notifier = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &ShutdownSignals::readPending);

    struct sigaction action = {};
    action.sa_handler = writeSignalNumber;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < watchedCount; ++i)
        sigaction(watchedSignals[i], &action, &previous[i]);
}

ShutdownSignals::~ShutdownSignals() {
    if (pipeEnds[0] < 0)
        return;
    for (int i = 0; i < watchedCount; ++i)
        sigaction(watchedSignals[i], &previous[i], nullptr);
    handlerWriteEnd = -1;
    delete notifier;
    close(pipeEnds[0]);
    close(pipeEnds[1]);
}

void ShutdownSignals::readPending() {
    unsigned char byte = 0;
    while (read(pipeEnds[0], &byte, 1) == 1)
        emit received(byte);
}
