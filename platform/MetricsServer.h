// The --metrics endpoint: GET /metrics over HTTP on its own thread, served
// by cpp-httplib (Debian's libcpp-httplib-dev), the one place that knows the
// library; every other path gets 404. Without the library at build time it
// cannot start, and says so.
#pragma once

#include <functional>
#include <string>

#include "platform/Address.h"

// Binds the address (its port included) and serves until StopMetricsServer;
// false, with *fault, when it cannot.
bool StartMetricsServer(const NetAddress& at, std::function<std::string()> render, std::string* fault);
void StopMetricsServer();
