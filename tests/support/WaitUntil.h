#pragma once

#include <functional>

// Runs the event loop until done() holds and says whether it did within
// timeoutMs. It looks after every millisecond, where QTRY_VERIFY looks every
// fifty: for waits inside loops of hundreds of actions.
bool waitUntil(const std::function<bool()> &done, int timeoutMs);
