#pragma once

class QTimer;

namespace manager {

// Settings pages watch a service by having its state asked for again at an interval. For a
// positive interval this (re)starts the repeating timer and returns true, so the caller asks at
// once; zero or less stops it (a negative interval cannot run a timer). Logs under `tag`.
bool setMonitorInterval(QTimer &timer, int msec, const char *tag);

} // namespace manager
