#pragma once

#include <QObject>
#include <QString>

namespace rfgen {

// The instrument's exclusive lock, as bench instruments offer it with
// SYST:LOCK: one per instrument, shared by all its remote clients. Requests
// nest; while a client holds it, the others' settings and the panel's are
// not carried out.
class ControlLock : public QObject {
    Q_OBJECT
public:
    // One more level for owner (named by its "ADDRESS:PORT"); false when
    // another owner holds the lock.
    bool request(const void *owner, const QString &name);
    // One level back; false when owner holds none.
    bool release(const void *owner);
    // Ends owner's lock whatever its depth (it left, or was dropped).
    void releaseAllOf(const void *owner);
    // Ends the lock whoever holds it: the operator frees the instrument.
    void breakLock();
    bool isHeld() const { return depth > 0; }
    bool isHeldBy(const void *owner) const { return depth > 0 && holder == owner; }
    bool isHeldByOtherThan(const void *asker) const { return depth > 0 && holder != asker; }
    // "ADDRESS:PORT" of the holder, empty when none.
    QString holderName() const { return name; }

signals:
    void changed(const QString &holderName);

private:
    const void *holder = nullptr;
    QString name;
    int depth = 0;
};

} // namespace rfgen
