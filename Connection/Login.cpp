// USER, PASS, PWD, TYPE, SYST, NOOP, BYE and QUIT.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "Connection/CommandTable.h"
#include "Connection/Commands.h"
#include "Connection/Replies.h"
#include "Connection/Session.h"
#include "core/Accounts.h"
#include "core/LogFiles.h"
#include "core/Metrics.h"
#include "core/LoginGuard.h"
#include "core/Options.h"
#include "core/Records.h"
#include "core/Slots.h"
#include "platform/Crypt.h"
#include "platform/Net.h"

namespace {

constexpr int FailuresBeforeClose = 5;
constexpr int LongestPauseSeconds = 8;
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr int LoginPauseUnit = 0;  // a fuzzer cannot wait seconds per input
#else
constexpr int LoginPauseUnit = 1000;  // milliseconds
#endif

// One line in the login log.
void LogAttempt(Session& session, bool ok) {
    Count(Metrics.Logins[ok ? 1 : 0]);
    LogLogin(ClientAddressText(session).Text, session.Client.Port, session.UserName, ok);
}

// The pause before the answer to a connection's nth failed login: it doubles
// with every failure (1, 2, 4, then 8 seconds).
int PauseSeconds(int failures) { return std::min(1 << std::min(failures - 1, 3), LongestPauseSeconds); }

// SECURITY: waits out a login pause before an answer to PASS. A client that
// ends its connection meanwhile (a reset or an orderly close) learns nothing
// from the silence, but the attempt counts as abandoned for its address.
// Clients in a pause hold at most half the server's slots, so that guessers
// cannot fill them all: past that, the connection is told so and closed.
// True when the answer may go out.
bool WaitLoginPause(Session& session, int failures) {
    if (LoginPauseUnit == 0) return true;
    const ServerRecord& server = *Server[session.Record.ServerID];
    int most = std::max(1, std::min(server.MaxConnections, Options.MaxConnections) / 2);
    if (server.LoginsPausing.fetch_add(1) >= most) {
        server.LoginsPausing--;
        Reply(session, Replies::TooManyLoginsWaiting);
        QuitOwn(session.Slot, session.Generation);
        return false;
    }
    bool ended = NetWaitHangUp(session.Control.Fd(), PauseSeconds(failures) * LoginPauseUnit);
    server.LoginsPausing--;
    if (!ended) return true;
    if (session.Serving()) NoteLoginAbandoned(session.Client, MonotonicMilliseconds());  // not when dropped by us
    QuitOwn(session.Slot, session.Generation);
    return false;
}

// SECURITY: a wrong name or password is answered only after the pause, and
// the fifth failure ends the connection: guessing passwords becomes slow.
// Every failure also counts against the client's address.
void RefuseLogin(Session& session, Replies::Text reply) {
    LogAttempt(session, false);
    NoteLoginFailure(session.Client, MonotonicMilliseconds());
    int failures = ++session.LoginFailures;
    if (!WaitLoginPause(session, failures)) return;
    Reply(session, reply);
    if (failures >= FailuresBeforeClose) QuitOwn(session.Slot, session.Generation);
}

// Under SlotLock: ends the connection's login, returning its account's count.
void LogOutLocked(ConnectionRecord& record) {
    if (record.InUsed.load() != 0 && record.State.load() != StateLoggedOut)
        User[record.UserID]->OnlineConnections--;
    record.State = StateLoggedOut;
}

}  // namespace

namespace {

// SECURITY: with --tls-required, no name or password crosses in clear text.
bool RefusedInClear(Session& session) {
    if (!Options.TlsRequired || session.Control.Protected()) return false;
    Reply(session, Replies::LoginOverTls);
    return true;
}

}  // namespace

void CommandUser(Session& session, char* argument) {
    if (RefusedInClear(session)) return;
    {
        // A connection already logged in leaves its account first, so that every
        // account's count is the number of connections logged in as it.
        std::lock_guard<std::mutex> hold(SlotLock);
        LogOutLocked(session.Record);
        session.Record.UserID = GetUserByName(argument);
    }
    session.Policy = nullptr;
    std::snprintf(session.UserName, sizeof session.UserName, "%s", argument);
    ReplyWith(session, Replies::PasswordRequiredPrefix, argument, Replies::PasswordRequiredSuffix);
}

void CommandPass(Session& session, char* argument) {
    if (RefusedInClear(session)) return;
    ConnectionRecord& record = session.Record;
    int userIndex = record.UserID.load();
    if (userIndex < 0) {
        RefuseLogin(session, Replies::NoUserSelected);
        return;
    }
    const UserRecord& user = *User[userIndex];
    AccountPolicy* policy = PolicyOf(userIndex);
    // SECURITY: a disabled account never logs in, whatever its password. A
    // hash from the settings replaces ./config's password, which is then not
    // used; it is checked here, on this connection's thread, and a wrong
    // password waits out the same pause.
    bool passwordOk = policy != nullptr && !policy->PasswordHash.empty()
                          ? PasswordMatches(argument, policy->PasswordHash)
                          : user.PassWord[0] == '\0' || std::strcmp(user.PassWord, argument) == 0;
    if (user.Enabled == 0 || !passwordOk) {
        RefuseLogin(session, Replies::WrongPassword);
        return;
    }
    // SECURITY: from an address that keeps leaving before its answers, a
    // right password waits as a wrong one would: leaving early tells nothing.
    if (LoginAnswersWait(session.Client, MonotonicMilliseconds()) && !WaitLoginPause(session, session.LoginFailures + 1))
        return;
    Replies::Text outcome = Replies::LoggedIn;
    {
        std::lock_guard<std::mutex> hold(SlotLock);  // the limit test and the count change as one step
        if (record.InUsed.load() == 0) return;          // dropped meanwhile: nothing to log in
        if (record.State.load() != StateLoggedOut) {
            // Already counted as this account: a new PASS only starts over at the root.
        } else if (user.OnlineConnections.load() >= user.MaxConnections) {
            outcome = Replies::TooManyPeople;
        } else if (user.DirectoryCount < 1 || user.Directories[0]->Path[0] == '\0') {
            // SECURITY: an empty root would make every path absolute.
            outcome = Replies::NoHomeDirectory;
        } else {
            user.OnlineConnections++;
            record.State = StateLoggedIn;
        }
        if (outcome == Replies::LoggedIn) {
            session.SetRoot(user.Directories[0]->Path);
            std::strcpy(record.CurrentDirectory, "/");
            std::strcpy(record.LocalDirectory, session.Root);  // both hold 1024 bytes
        }
    }
    LogAttempt(session, outcome == Replies::LoggedIn);
    if (outcome == Replies::LoggedIn) {
        record.TickCount = 0;  // the first command that counts as activity
        session.Policy = policy;
        if (policy != nullptr) MeasureUsage(*policy, session.Root);
    }
    Reply(session, outcome);
}

void CommandPwd(Session& session, char*) {
    char quoted[ReplySize];
    std::string_view current = session.Record.CurrentDirectory;
    if (Spoken().QuotesPaths) current = QuotePath(current, quoted);
    ReplyWith(session, Replies::CurrentDirectoryPrefix, current, Replies::CurrentDirectorySuffix);
}

void CommandType(Session& session, char* argument) {
    if (!Spoken().ChecksType) {
        // Every transfer is binary; the type is only acknowledged.
        ReplyWith(session, Replies::TypeSetPrefix, argument, Replies::TypeSetSuffix);
        return;
    }
    std::string_view type = argument;
    auto is = [type](std::string_view word) { return IsWord(type, word); };
    if (is("A") || is("A N")) {
        session.Type = TransferType::Ascii;
        Reply(session, Replies::TypeAscii);
    } else if (is("I")) {
        session.Type = TransferType::Binary;
        Reply(session, Replies::TypeImage);
    } else if (is("L 8")) {
        session.Type = TransferType::Binary;
        Reply(session, Replies::TypeLocal);
    } else {
        Reply(session, type.empty() ? Replies::ArgumentSyntax : Replies::ParameterNotImplemented);
    }
}

void CommandSyst(Session& session, char*) { Reply(session, Spoken().System); }

void CommandNoop(Session& session, char*) { Reply(session, Replies::Ok); }

void CommandQuit(Session& session, char*) {
    ReplyWith(session, Replies::GoodByePrefix, Server[session.Record.ServerID]->GoodByeText,
              Replies::GoodByeSuffix);
    QuitOwn(session.Slot, session.Generation);
}
