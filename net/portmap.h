#pragma once

#include <QtGlobal>

// Registration with the system's portmapper (rpcbind), through libtirpc.
namespace rfgen::portmap {

enum class Outcome {
    Registered,
    NoPortmapper, // rpcbind is not running
    Taken,        // another running service holds the registration
};

// A registration left by a service that no longer answers is replaced.
Outcome registerTcp(quint32 program, quint32 version, quint16 port);
void unregister(quint32 program, quint32 version);

} // namespace rfgen::portmap
