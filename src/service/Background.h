#pragma once

// Running on as a service of its own once started from a script: the
// starting process waits until the service listens, then ends, so the script
// learns at once whether the service came up and goes on without it.
namespace Background {

// Forks. Returns, in the new process, true (in a session of its own); false
// when it could not fork. The starting process never returns: it ends with 0
// once ready() is called, or with the new process's own status when that one
// ends first (having said why on the standard error they share).
bool detach();

// The service listens: its standard streams go to /dev/null, and the
// starting process is let go.
void ready();

} // namespace Background
