// FTPS (RFC 4217): AUTH TLS turns the control connection into TLS; PBSZ and
// PROT P protect the data connections; CCC is refused. Offered only when a
// certificate is loaded (--tls-cert).
#include "Connection/CommandTable.h"
#include "Connection/Commands.h"
#include "Connection/Replies.h"
#include "Connection/Session.h"
#include "core/Log.h"
#include "core/Metrics.h"
#include "core/Slots.h"

void CommandAuth(Session& session, char* argument) {
    if (session.Control.Protected()) {
        Reply(session, Replies::AuthAgain);
        return;
    }
    if (!IsWord(argument, "TLS") && !IsWord(argument, "SSL") && !IsWord(argument, "TLS-C")) {
        Reply(session, Replies::AuthUnknown);
        return;
    }
    if (!Reply(session, Replies::AuthOk)) return;
    // SECURITY: anything the client sent after AUTH and before the handshake
    // came in clear text and could have been injected by someone in the path:
    // it is dropped, never run as if it had come over TLS. That includes
    // lines held from a transfer and a Telnet sequence left unfinished.
    session.Input.Start = session.Input.Held = 0;
    session.Input.Discarding = false;
    session.Input.Telnet = TelnetState::Data;
    session.Input.Later.clear();
    session.Input.LaterBytes = 0;
    if (!StartControlTls(session)) QuitOwn(session.Slot, session.Generation);  // a failed handshake ends it quietly
}

bool StartControlTls(Session& session) {
    std::string reason;
    NetStatus status = session.Control.StartTls(true, NetWaits(), &reason);
    Count(Metrics.TlsHandshakes[status == NetStatus::Ok ? 1 : 0]);
    if (status == NetStatus::Failed) {
        ConsolePrintf("TLS handshake failed on %d from %s port %u: %s\r\n", session.Control.Fd(),
                      ClientAddressText(session).Text, static_cast<unsigned>(session.Client.Port), reason.c_str());
    }
    return status == NetStatus::Ok;
}

void CommandPbsz(Session& session, char*) {
    Reply(session, session.Control.Protected() ? Replies::PbszOk : Replies::TlsFirst);
}

void CommandProt(Session& session, char* argument) {
    if (!session.Control.Protected()) {
        Reply(session, Replies::TlsFirst);
    } else if (IsWord(argument, "P")) {
        session.ProtectData = true;
        Reply(session, Replies::ProtPrivate);
    } else if (IsWord(argument, "C")) {
        session.ProtectData = false;
        Reply(session, Replies::ProtClear);
    } else {
        Reply(session, IsWord(argument, "S") || IsWord(argument, "E") ? Replies::ProtUnsupported : Replies::ProtUnknown);
    }
}

void CommandCcc(Session& session, char*) { Reply(session, Replies::CccRefused); }
