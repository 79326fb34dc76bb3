#pragma once

#include <QtGlobal>

#include <chrono>

// Who answers on a port of this machine: this service, nothing, or some
// other program.
namespace ServiceProbe {

enum class Holder { Nothing, Ours, Other };

Holder whoAnswers(quint16 port, std::chrono::milliseconds timeout);

} // namespace ServiceProbe
