// Constructor of the optional curl-based transport. That transport is not part of this build,
// so callers that ask for it first (filmo_use_curl) fall back to the WinHTTP transport.
#include "vornak_http.h"

extern "C" const vornak_http *vornak_http_curl(void) { return nullptr; }
