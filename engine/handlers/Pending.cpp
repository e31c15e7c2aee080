// Commands whose handlers are not built yet answer as unsupported ones do.
#include "../FSPDaemon.h"

void FSPDaemon::GetDirectory() { ErrorMsg("Unsupported Command!"); }
void FSPDaemon::GetFile() { ErrorMsg("Unsupported Command!"); }
void FSPDaemon::Upload() { ErrorMsg("Unsupported Command!"); }
void FSPDaemon::Install() { ErrorMsg("Unsupported Command!"); }
void FSPDaemon::DeleteFileA() { ErrorMsg("Unsupported Command!"); }
void FSPDaemon::DeleteDirectory() { ErrorMsg("Unsupported Command!"); }
void FSPDaemon::MakeDirectory() { ErrorMsg("Unsupported Command!"); }
