// The services the layers of the server take from the layers above them,
// wired at start: the kernel core's upper services (record access, the
// statement runtime, the dictionary's images, the request interface's
// information area, error table and escape callbacks), record access's
// (the kernel's databank control and statement close, the request
// interface's databank open and close, the catalog's table descriptions),
// the dictionary's and the statement runtime's request services, the
// databank kernel's collation services, the compiler's dictionary, its parse
// and semantic phases and its datetime literal converter (DSCallGuarded).
// An entry of a layer not built yet stays empty: its caller answers -19040
// and logs the service's name.
#pragma once

#include <cstdint>

// Installs every service over the kernel word storage `base`; call before
// DSStartDb.
void ServerInstallServices(int32_t* base);

// Takes every service away again (after DSStopDb).
void ServerRemoveServices();
