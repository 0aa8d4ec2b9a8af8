// nbrun without a script: lines typed at a prompt, run as they are complete
// (session.h). Standard input is read on a thread of its own, so Ctrl+C and
// --max-seconds end a prompt that waits for a line as they end a script.
// "quit" (in any case) or the end of the input ends it with 0, a failed
// Expect with 1, --max-seconds with 3 and Ctrl+C with 4; other mistakes are
// reported and the prompt goes on. Every end closes the ports.
#pragma once

#include "host/runner/runner.h"

namespace nbrun {

// Returns the exit code; `maxSeconds` 0 sets no time limit.
int RunPrompt(Runner& runner, int maxSeconds);

}  // namespace nbrun
