#include "controllock.h"

namespace rfgen {

bool ControlLock::request(const void *owner, const QString &ownerName) {
    if (isHeldByOtherThan(owner))
        return false;
    holder = owner;
    name = ownerName;
    if (++depth == 1)
        emit changed(name);
    return true;
}

bool ControlLock::release(const void *owner) {
    if (!isHeldBy(owner))
        return false;
    if (--depth == 0)
        breakLock();
    return true;
}

void ControlLock::releaseAllOf(const void *owner) {
    if (isHeldBy(owner))
        breakLock();
}

void ControlLock::breakLock() {
    const bool wasHeld = holder != nullptr;
    holder = nullptr;
    name.clear();
    depth = 0;
    if (wasHeld)
        emit changed(QString());
}

} // namespace rfgen
