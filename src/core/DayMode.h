#pragma once

// Which day a query asks for.
enum class DayMode { Today, Tomorrow };
