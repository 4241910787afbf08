// The page engine's environment is set before main, as the program's own
// main sets it first thing: a test that shows a page may load the engine
// while downloads of earlier tests run on worker threads, and changing the
// environment then could pull it from under their getenv calls.
#include "vcl/WebHosts.h"

namespace {
const bool kWebEngineProcessPrepared = (PrepareWebEngineProcess(), true);
}  // namespace
