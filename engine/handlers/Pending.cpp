// Commands whose handlers are not built yet answer as unsupported ones do.
#include "../FSPDaemon.h"

