// Commands whose handlers are not built yet answer as unsupported ones do.
#include "../FSPDaemon.h"

void FSPDaemon::GetDirectory() { ErrorMsg("Unsupported Command!"); }
void FSPDaemon::GetFile() { ErrorMsg("Unsupported Command!"); }
