#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace sim {

// Something that plays the instrument's side of a serial line.
class Responder {
public:
    virtual ~Responder() = default;
    // Bytes the host wrote; returns the bytes the device sends back (may be empty).
    // Called from the testbed's I/O thread.
    virtual QByteArray receive(const QByteArray &bytes) = 0;
};

struct UsbIdentity {
    quint16 vendorId = 0x1209;
    quint16 productId = 0;
    QString manufacturer;
    QString product;
    QString serial;
};

// Makes devices appear as USB CDC serial ports /dev/ttyACM<n> through umockdev.
// The process must run under umockdev-wrapper (its preload library active).
class Testbed {
public:
    Testbed();
    ~Testbed();
    Testbed(const Testbed &) = delete;
    Testbed &operator=(const Testbed &) = delete;

    bool isValid() const;
    QString errorString() const;
    // The testbed's root, for child processes (UMOCKDEV_DIR).
    QString umockdevDir() const;

    // Adds a device served by responder (not owned, must outlive the testbed;
    // nullptr: a port that never answers). Returns a handle for the other calls.
    int addDevice(const UsbIdentity &identity, Responder *responder);
    // Node name of the device as the host sees it, e.g. "ttyACM300": each
    // testbed numbers its nodes from a base of its own (a multiple of 100).
    QString portName(int device) const;
    // Hangs up the line like a pulled adapter and removes the device.
    void unplug(int device);
    // Brings an unplugged device back, under a new node name, or under its old
    // one as the kernel does once nothing holds the old node open any more.
    void replug(int device, bool sameName = false);
    bool isPlugged(int device) const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace sim
