// The idle supervisor: once a second it ages every connection in use and
// drops the ones silent for too long.
#pragma once

#include <thread>

// Seconds without an accepted command or transfer progress (--idle-timeout; 120).
int IdleLimit();

extern std::thread ManagerThread;

void ManagerInstanceProc();

// One pass over the slots: age each connection in use by one second and drop
// those past the limit.
void ManagerPass();
