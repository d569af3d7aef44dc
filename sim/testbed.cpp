// Before any Qt header: glib's headers use "signals" as a name, which Qt
// defines as a keyword.
#include <umockdev.h>

#include "testbed.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

// Major number of USB CDC ACM ttys; the minor is the node number.
constexpr int acmMajor = 166;
// How often a port whose host side is closed is looked at again: a pty master
// reports a hang-up continuously until the node is opened, so it cannot simply
// be polled.
constexpr auto absentHostRetry = std::chrono::milliseconds(10);
// Node numbers handed out: three digits, so that name order is numeric order.
constexpr int firstNodeNumber = 100;
constexpr int nodeNumberEnd = 1000;
// Each testbed starts at a base of its own, so that concurrent ones rarely meet.
constexpr int nodeBaseStep = 100;

int nodeBase() {
    const int bases = (nodeNumberEnd - firstNodeNumber) / nodeBaseStep;
    return firstNodeNumber + nodeBaseStep * int(getpid() % bases);
}

// A port lock file (QSerialPort's, or any other program's) rules a name out.
bool lockFileExists(const QByteArray &name) {
    for (const char *dir : {"/run/lock/LCK..", "/var/lock/LCK.."})
        if (access((dir + name).constData(), F_OK) == 0)
            return true;
    return false;
}

// Text for an "A:" line of the record format: backslash and newline escaped.
QByteArray recordAttribute(const QString &value) {
    QByteArray bytes = value.toUtf8();
    bytes.replace('\\', "\\\\");
    bytes.replace('\n', "\\n");
    return bytes;
}

// udev's encoding of USB strings in ID_VENDOR, ID_MODEL, ID_SERIAL: blanks and
// anything outside a safe ASCII set become '_'.
QByteArray udevSafe(const QString &value) {
    QByteArray bytes = value.trimmed().toUtf8();
    for (char &c : bytes) {
        const bool safe = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                          (c >= 'A' && c <= 'Z') || c == '-' || c == '.' || c == '_';
        if (!safe)
            c = '_';
    }
    return bytes;
}

QByteArray hex4(quint16 value) {
    return QByteArray::number(value, 16).rightJustified(4, '0');
}

QByteArray linkTarget(const QByteArray &path) {
    char target[256];
    const ssize_t length = readlink(path.constData(), target, sizeof target);
    return length > 0 ? QByteArray(target, int(length)) : QByteArray();
}

void setNonBlockingCloseOnExec(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

} // namespace

struct Device {
    UsbIdentity identity;
    Responder *responder = nullptr;
    bool plugged = false;
    int masterFd = -1;
    int nodeNumber = -1;
    int busNumber = -1;
    // Host side not open (reads fail with EIO): looked at again at nextRetry.
    bool hostAbsent = true;
    Clock::time_point nextRetry;
    QByteArray pendingOutput;

    int plugsUnderThisName = 0;

    QByteArray nodeName() const { return "ttyACM" + QByteArray::number(nodeNumber); }
    // umockdev keeps a node's pty under its path for the testbed's life and
    // takes no path twice: a node plugged in again under its old name is
    // spelt "dev/./ttyACM<n>", "dev/././ttyACM<n>", ...
    QByteArray nodePath() const {
        return "/dev/" + QByteArray("./").repeated(plugsUnderThisName - 1) + nodeName();
    }
    QByteArray majorMinor() const {
        return QByteArray::number(acmMajor) + ':' + QByteArray::number(nodeNumber);
    }
    QByteArray usbPath() const {
        const QByteArray bus = QByteArray::number(busNumber);
        return "/sys/devices/usb" + bus + '/' + bus + "-1";
    }
    QByteArray interfacePath() const {
        return usbPath() + '/' + QByteArray::number(busNumber) + "-1:1.0";
    }
    QByteArray ttyPath() const { return interfacePath() + "/tty/" + nodeName(); }
};

struct Testbed::Private {
    UMockdevTestbed *testbed = nullptr;
    QString error;
    QString rootDir;
    int wakeRead = -1;
    int wakeWrite = -1;
    // Takes the place of a closed master descriptor (see hangUp()).
    int nullFd = -1;
    int nextNodeNumber = nodeBase();
    std::vector<int> nodeReservations;
    int nextBusNumber = 1;

    std::mutex mutex;
    std::vector<Device> devices;
    bool stopping = false;
    std::thread ioThread;

    bool start();
    void stop();
    void wake();
    bool plug(Device &dev, bool sameName = false);
    int reserveNodeNumber();
    QByteArray record(const Device &dev) const;
    void hangUp(Device &dev);
    void removeFromSysfs(const Device &dev);
    void removeStalePtyMapEntry(const QByteArray &ptyName, const QByteArray &majorMinor);
    bool validHandle(int device) const { return device >= 0 && device < int(devices.size()); }

    // I/O thread.
    void run();
    int collectPollFds(std::vector<pollfd> &fds, std::vector<int> &owners);
    void serve(Device &dev, short revents);
    bool readFromHost(Device &dev, QByteArray &bytes);
    void writeToHost(Device &dev);
    void markHostAbsent(Device &dev);
};

bool Testbed::Private::start() {
    int wakePipe[2];
    if (pipe2(wakePipe, O_NONBLOCK | O_CLOEXEC) != 0) {
        error = QStringLiteral("cannot create a pipe: %1").arg(qt_error_string(errno));
        return false;
    }
    wakeRead = wakePipe[0];
    wakeWrite = wakePipe[1];
    // The check only answers once a testbed has set UMOCKDEV_DIR.
    testbed = umockdev_testbed_new();
    if (!umockdev_in_mock_environment()) {
        g_object_unref(testbed);
        testbed = nullptr;
        error = QStringLiteral("the umockdev preload library is not active: run under "
                               "umockdev-wrapper");
        return false;
    }
    nullFd = open("/dev/null", O_RDWR | O_CLOEXEC);
    gchar *root = umockdev_testbed_get_root_dir(testbed);
    rootDir = QString::fromLocal8Bit(root);
    g_free(root);
    ioThread = std::thread([this] { run(); });
    return true;
}

void Testbed::Private::stop() {
    if (ioThread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        wake();
        ioThread.join();
    }
    // The testbed closes the master descriptors it handed out (including the
    // placeholders of unplugged devices) and removes its directory.
    if (testbed)
        g_object_unref(testbed);
    for (int fd : nodeReservations)
        close(fd);
    for (int fd : {wakeRead, wakeWrite, nullFd})
        if (fd >= 0)
            close(fd);
}

void Testbed::Private::wake() {
    const char byte = 1;
    [[maybe_unused]] ssize_t written = write(wakeWrite, &byte, 1);
}

// The umockdev-record description of the USB device, its CDC interface and
// its tty, with the properties udev's usb_id would add.
QByteArray Testbed::Private::record(const Device &dev) const {
    const UsbIdentity &id = dev.identity;
    const QByteArray bus = QByteArray::number(dev.busNumber);
    const QByteArray vendor = udevSafe(id.manufacturer);
    const QByteArray model = udevSafe(id.product);
    const QByteArray serial = udevSafe(id.serial);
    const QByteArray usbIds = "E: ID_VENDOR=" + vendor + "\nE: ID_VENDOR_ID=" + hex4(id.vendorId) +
                              "\nE: ID_MODEL=" + model + "\nE: ID_MODEL_ID=" + hex4(id.productId) +
                              "\nE: ID_SERIAL=" + vendor + '_' + model + '_' + serial +
                              "\nE: ID_SERIAL_SHORT=" + serial + "\nE: ID_REVISION=0100\n";
    QByteArray text;
    text += "P: " + dev.usbPath().mid(4) + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n";
    text += "E: DRIVER=usb\nE: BUSNUM=" + bus.rightJustified(3, '0') + "\nE: DEVNUM=002\n";
    text += "E: PRODUCT=" + QByteArray::number(id.vendorId, 16) + '/' +
            QByteArray::number(id.productId, 16) + "/100\n" + usbIds;
    text += "A: idVendor=" + hex4(id.vendorId) + "\nA: idProduct=" + hex4(id.productId) + '\n';
    text += "A: manufacturer=" + recordAttribute(id.manufacturer) + '\n';
    text += "A: product=" + recordAttribute(id.product) + '\n';
    text += "A: serial=" + recordAttribute(id.serial) + '\n';
    text += "A: bDeviceClass=02\nA: bcdDevice=0100\nA: busnum=" + bus + "\nA: devnum=2\n";
    text += "A: speed=12\n\n";

    text += "P: " + dev.interfacePath().mid(4) + "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\n";
    text += "E: DRIVER=cdc_acm\nE: INTERFACE=2/2/1\n";
    text += "A: bInterfaceClass=02\nA: bInterfaceSubClass=02\nA: bInterfaceNumber=00\n\n";

    text += "P: " + dev.ttyPath().mid(4) + "\nN: " + dev.nodePath().mid(5) + '\n';
    text += "E: DEVNAME=/dev/" + dev.nodeName() + "\nE: SUBSYSTEM=tty\n";
    text += "E: MAJOR=" + QByteArray::number(acmMajor) +
            "\nE: MINOR=" + QByteArray::number(dev.nodeNumber) + '\n';
    text += "E: ID_BUS=usb\nE: ID_USB_DRIVER=cdc_acm\nE: ID_USB_INTERFACE_NUM=00\n" + usbIds;
    text += "A: dev=" + dev.majorMinor() + '\n';
    return text;
}

// QSerialPort locks a port through a machine-wide file (LCK..ttyACM<n>), so
// two testbeds running at once must not both have a ttyACM<n>: each holds an
// flock on a file per number it uses, until it is destroyed, and skips the
// numbers whose port lock file exists.
int Testbed::Private::reserveNodeNumber() {
    const int span = nodeNumberEnd - firstNodeNumber;
    for (int tried = 0; tried < span; ++tried) {
        const int n = firstNodeNumber + (nextNodeNumber - firstNodeNumber + tried) % span;
        const QByteArray name = "ttyACM" + QByteArray::number(n);
        if (lockFileExists(name))
            continue;
        const QByteArray reservation = "/tmp/rfgen-testbed-" + name + ".lock";
        const int fd = open(reservation.constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0)
            continue;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            nodeReservations.push_back(fd);
            nextNodeNumber = n + 1 < nodeNumberEnd ? n + 1 : firstNodeNumber;
            return n;
        }
        close(fd);
    }
    return nextNodeNumber++; // every number taken: take the next and hope
}

// The node number stays reserved after an unplug, so it can be plugged under again.
bool Testbed::Private::plug(Device &dev, bool sameName) {
    if (!sameName) {
        dev.nodeNumber = reserveNodeNumber();
        dev.plugsUnderThisName = 0;
    }
    ++dev.plugsUnderThisName;
    dev.busNumber = nextBusNumber++;
    GError *gerror = nullptr;
    if (!umockdev_testbed_add_from_string(testbed, record(dev).constData(), &gerror)) {
        error = QString::fromUtf8(gerror->message);
        g_error_free(gerror);
        return false;
    }
    dev.masterFd = umockdev_testbed_get_dev_fd(testbed, dev.nodePath().constData());
    if (dev.masterFd < 0) {
        error = QStringLiteral("umockdev created no pty for /dev/%1")
                    .arg(QString::fromLatin1(dev.nodeName()));
        return false;
    }
    // Child processes must not hold the master open: unplugging closes it.
    setNonBlockingCloseOnExec(dev.masterFd);
    dev.plugged = true;
    dev.hostAbsent = true;
    dev.nextRetry = Clock::now();
    dev.pendingOutput.clear();
    return true;
}

// Closing the master makes the host side see a hang-up, as after pulling a
// USB adapter. The testbed still owns the descriptor number and closes it
// when destroyed, so the number stays taken by /dev/null until then rather
// than being closed twice.
void Testbed::Private::hangUp(Device &dev) {
    dup2(nullFd, dev.masterFd);
    dev.masterFd = -1;
    dev.pendingOutput.clear();
}

void Testbed::Private::removeFromSysfs(const Device &dev) {
    // Children first: removing a parent would leave the tty's links behind.
    for (const QByteArray &path : {dev.ttyPath(), dev.interfacePath(), dev.usbPath()})
        umockdev_testbed_remove_device(testbed, path.constData());
    QDir(rootDir).rmdir(QStringLiteral("sys/devices/usb%1").arg(dev.busNumber));
}

// The testbed maps each pty it created to the device number (dev/.ptymap).
// Once the master is closed the pty number can be handed out again, and a
// device that gets it would collide with the stale entry.
void Testbed::Private::removeStalePtyMapEntry(const QByteArray &ptyName,
                                              const QByteArray &majorMinor) {
    if (ptyName.isEmpty())
        return;
    QByteArray entryName = ptyName;
    entryName.replace('/', '_');
    const QByteArray entry = QFile::encodeName(rootDir) + "/dev/.ptymap/" + entryName;
    if (linkTarget(entry) == majorMinor)
        unlink(entry.constData());
}

void Testbed::Private::run() {
    std::vector<pollfd> fds;
    std::vector<int> owners;
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        const int timeout = collectPollFds(fds, owners);
        lock.unlock();
        poll(fds.data(), fds.size(), timeout);
        char drain[64];
        while (read(wakeRead, drain, sizeof drain) > 0) {
        }
        lock.lock();
        // Descriptors may have changed while unlocked: serve only what is
        // still the same device on the same descriptor.
        for (size_t i = 1; i < fds.size(); ++i) {
            Device &dev = devices[owners[i]];
            if (dev.masterFd == fds[i].fd && fds[i].revents)
                serve(dev, fds[i].revents);
        }
        const auto now = Clock::now();
        for (Device &dev : devices)
            if (dev.masterFd >= 0 && dev.hostAbsent && now >= dev.nextRetry)
                serve(dev, 0);
    }
}

// Fills the poll set (wake-up pipe first); returns the poll timeout in ms.
int Testbed::Private::collectPollFds(std::vector<pollfd> &fds, std::vector<int> &owners) {
    fds.assign(1, pollfd{wakeRead, POLLIN, 0});
    owners.assign(1, -1);
    const auto now = Clock::now();
    auto timeout = Clock::duration::max();
    for (size_t i = 0; i < devices.size(); ++i) {
        const Device &dev = devices[i];
        if (dev.masterFd < 0)
            continue;
        if (dev.hostAbsent) {
            timeout = std::min(timeout, std::max(dev.nextRetry - now, Clock::duration::zero()));
            continue;
        }
        const short events = POLLIN | (dev.pendingOutput.isEmpty() ? 0 : POLLOUT);
        fds.push_back(pollfd{dev.masterFd, events, 0});
        owners.push_back(int(i));
    }
    if (timeout == Clock::duration::max())
        return -1;
    // Round up so that a retry is never polled for again before it is due.
    return int(std::chrono::ceil<std::chrono::milliseconds>(timeout).count());
}

void Testbed::Private::serve(Device &dev, short revents) {
    QByteArray bytes;
    const bool hostPresent = readFromHost(dev, bytes);
    if (!bytes.isEmpty() && dev.responder)
        dev.pendingOutput += dev.responder->receive(bytes);
    if (!hostPresent || (revents & (POLLHUP | POLLERR | POLLNVAL) && bytes.isEmpty())) {
        markHostAbsent(dev);
        return;
    }
    dev.hostAbsent = false;
    writeToHost(dev);
}

// Reads everything the host has written; false when the host side is closed.
bool Testbed::Private::readFromHost(Device &dev, QByteArray &bytes) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(dev.masterFd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, int(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

void Testbed::Private::writeToHost(Device &dev) {
    while (!dev.pendingOutput.isEmpty()) {
        const ssize_t n =
            write(dev.masterFd, dev.pendingOutput.constData(), size_t(dev.pendingOutput.size()));
        if (n > 0) {
            dev.pendingOutput.remove(0, int(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
                dev.pendingOutput.clear(); // nobody listens any more
            return;
        }
    }
}

// Nobody has the node open: what a device would send is lost.
void Testbed::Private::markHostAbsent(Device &dev) {
    dev.hostAbsent = true;
    dev.pendingOutput.clear();
    dev.nextRetry = Clock::now() + absentHostRetry;
}

Testbed::Testbed() : d(std::make_unique<Private>()) {
    d->start();
}

Testbed::~Testbed() {
    d->stop();
}

bool Testbed::isValid() const {
    return d->testbed != nullptr;
}

QString Testbed::errorString() const {
    return d->error;
}

QString Testbed::umockdevDir() const {
    return d->rootDir;
}

int Testbed::addDevice(const UsbIdentity &identity, Responder *responder) {
    if (!isValid())
        return -1;
    std::lock_guard<std::mutex> lock(d->mutex);
    Device dev;
    dev.identity = identity;
    dev.responder = responder;
    if (!d->plug(dev))
        return -1;
    d->devices.push_back(dev);
    d->wake();
    return int(d->devices.size()) - 1;
}

QString Testbed::portName(int device) const {
    std::lock_guard<std::mutex> lock(d->mutex);
    if (!d->validHandle(device))
        return QString();
    return QString::fromLatin1(d->devices[device].nodeName());
}

void Testbed::unplug(int device) {
    std::lock_guard<std::mutex> lock(d->mutex);
    if (!d->validHandle(device) || !d->devices[device].plugged)
        return;
    Device &dev = d->devices[device];
    const QByteArray ptyName = linkTarget(QFile::encodeName(d->rootDir) + "/dev/" + dev.nodeName());
    d->hangUp(dev);
    d->removeFromSysfs(dev);
    d->removeStalePtyMapEntry(ptyName, dev.majorMinor());
    dev.plugged = false;
    // The I/O thread's poll() still holds the old master; the hang-up reaches
    // the host once it lets go.
    d->wake();
}

void Testbed::replug(int device, bool sameName) {
    std::lock_guard<std::mutex> lock(d->mutex);
    if (!d->validHandle(device) || d->devices[device].plugged)
        return;
    d->plug(d->devices[device], sameName);
    d->wake();
}

bool Testbed::isPlugged(int device) const {
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->validHandle(device) && d->devices[device].plugged;
}

} // namespace sim
