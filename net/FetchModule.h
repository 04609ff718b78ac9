#pragma once

#include "net/OpenUrl.h"

// The fetch module's one entry point (Linux): OpenUrl, under a name the program looks up.
#define PELLAMARK_FETCH_MODULE_ENTRY "pellamarkOpenUrl"

namespace pellamark {
using FetchModuleEntry = std::string (*)(const std::string& url, const FetchOptions& options);
}
