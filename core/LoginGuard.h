// What recent logins from each client address tell, for the defences against
// password guessing that a single connection cannot see: many connections
// from one address, and clients that leave before a refusal's pause ends to
// learn from the silence that the password was wrong.
//
// An address is an IPv4 address, or the /64 network of an IPv6 one (what one
// host is usually given). Its entry counts recent failed logins and abandoned
// ones (the connection ended while its PASS waited for an answer), and
// expires ten minutes after the last of them. The table is bounded: when it
// is full, the entry whose last event is oldest gives way.
#pragma once

#include <cstdint>

#include "platform/Address.h"

// Past this many recent failures, an address may not connect at all.
constexpr int FailuresBeforeBar = 30;
// From this many recent abandoned attempts on, every answer to PASS from the
// address waits as a refusal would, right password or not.
constexpr int AbandonedBeforeWaits = 3;
constexpr int64_t LoginMemoryMs = 10 * 60 * 1000;
constexpr int LoginGuardCapacity = 4096;

// Times are MonotonicMilliseconds().
void NoteLoginFailure(const NetAddress& client, int64_t now);
void NoteLoginAbandoned(const NetAddress& client, int64_t now);
// Whether new connections from the address are refused.
bool LoginsBarred(const NetAddress& client, int64_t now);
// Whether every answer to PASS from the address waits.
bool LoginAnswersWait(const NetAddress& client, int64_t now);
// Forgets every address (tests).
void ForgetLogins();
