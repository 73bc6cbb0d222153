// Plain TCP byte transport.
#include "session/transport.h"

std::unique_ptr<Transport> MakeTransport() { return nullptr; }
