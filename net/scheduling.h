#pragma once

#include <QObject>
#include <QTimer>

#include <memory>

namespace rfgen {

// Serves item on the next turn of the event loop: once however often it is
// asked before then, and not at all if it is gone by then. Item has a
// `scheduled` flag, which serve clears.
template <typename Item, typename Serve>
void scheduleOnce(QObject *context, const std::shared_ptr<Item> &item, Serve serve) {
    if (!item || item->scheduled)
        return;
    item->scheduled = true;
    std::weak_ptr<Item> weak = item;
    QTimer::singleShot(0, context, [weak, serve] {
        if (auto alive = weak.lock())
            serve(alive);
    });
}

} // namespace rfgen
