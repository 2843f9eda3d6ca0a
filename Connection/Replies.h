// Every text the server sends on a control connection, byte for byte.
// A reply that repeats a text of the client's (or of the configuration) is a
// prefix and a suffix around it; ReplyWith (Session.h) cuts the middle to fit.
#pragma once

#include <cinttypes>
#include <string_view>

namespace Replies {

using Text = std::string_view;

// Listener
constexpr Text TooManyUsers = "502 Too many users on this server.\n";

constexpr Text TooManyFromAddress = "421 Too many connections from your address.\r\n";
constexpr Text TooManyFailedLogins = "421 Too many failed logins from your address.\r\n";

// Command loop
constexpr Text WelcomePrefix = "220 ", WelcomeSuffix = "\r\n";
constexpr Text SyntaxError = "500 Syntax error, command unrecognized.\r\n";
constexpr Text PleaseLogin = "530 Please login with USER and PASS.\r\n";
constexpr Text NotImplemented = "500 Command not implemented.\r\n";
constexpr Text TimedOut = "421 Timeout.\r\n";  // with the extensions, before a silent connection is dropped

// Login and basic commands
constexpr Text PasswordRequiredPrefix = "331 Password required for ", PasswordRequiredSuffix = "\r\n";
constexpr Text NoUserSelected = "530 Not logged in, user or password incorrect!\r\n";
constexpr Text WrongPassword = "530 Not logged in, user or password incorrect.\r\n";
constexpr Text TooManyPeople = "530 Not logged in, too many people are using this user.\r\n";
constexpr Text NoHomeDirectory = "530 Not logged in, user has no home directory.\r\n";
constexpr Text LoggedIn = "230 User successfully logged in.\r\n";
constexpr Text TooManyLoginsWaiting = "421 Too many logins waiting for an answer; try again later.\r\n";
constexpr Text CurrentDirectoryPrefix = "257 \"", CurrentDirectorySuffix = "\" is current directory.\r\n";
constexpr Text TypeSetPrefix = "200 Type set to ", TypeSetSuffix = "\r\n";
constexpr Text System = "215 Windows_NT\r\n";
constexpr Text Ok = "200 OK\r\n";
constexpr Text GoodByePrefix = "221 ", GoodByeSuffix = "\r\n";

// CWD
constexpr Text DirectoryChangedPrefix = "250 \"", DirectoryChangedSuffix = "\" is current directory.\r\n";
constexpr Text CwdFailedPrefix = "550 CWD failed. \"", CwdFailedSuffix = "\": directory not found.\r\n";

// An account's settings
constexpr Text PermissionDenied = "550 Permission denied.\r\n";
constexpr Text QuotaExceeded = "552 Quota exceeded.\r\n";
constexpr const char* QuotaFormat = "200 Quota: %lld of %s bytes, %lld of %s files used.\r\n";
constexpr Text NoQuota = "200 No quota for this account.\r\n";

// File management
constexpr const char* SizeFormat = "213 %" PRId64 "\r\n";
constexpr Text SizeNotFound = "550 File not found\r\n";
constexpr Text DeletedPrefix = "250 File \"", DeletedSuffix = "\" was deleted successfully.\r\n";
constexpr Text FileNotFound = "550 File not found.\r\n";
constexpr Text DirectoryDeleted = "250 Directory deleted successfully.\r\n";
constexpr Text DirectoryNotFound = "550 Directory not found.\r\n";
constexpr Text DirectoryCreatedPrefix = "257 \"", DirectoryCreatedSuffix = "\" Directory created successfully.\r\n";
constexpr Text DirectoryCreateFailed = "550 Directory created failed.\r\n";
constexpr Text RenameReady = "350 File exists, ready for destination name\r\n";
constexpr Text RenameSourceMissingPrefix = "550 ", RenameSourceMissingSuffix = ": The system cannot find the file specified.\r\n";
constexpr Text Renamed = "250 RNTO command successful.\r\n";
constexpr Text RenameFailed = "550 RNTO command failed.\r\n";

// Data connection
constexpr Text PortOk = "200 Port command successful\r\n";
constexpr Text PortSyntax = "501 Syntax error in parameters or arguments.\r\n";
constexpr Text PortIllegal = "500 Illegal PORT command.\r\n";
constexpr const char* PassiveFormat = "227 Entering Passive Mode (%d,%d,%d,%d,%d,%d).\r\n";
constexpr Text DataSocketCreateError = "425 Data socket create error.\r\n";
constexpr Text DataSocketBindError = "425 Data socket bind error.\r\n";
constexpr Text DataSocketListenError = "425 Data socket listen error.\r\n";
constexpr Text PassivePortsHeld = "425 Too many passive ports held from your address.\r\n";

// Transfers
constexpr Text ListStarting = "125 Data connection already open; Transfer starting.\r\n";
constexpr Text OpeningBinary = "150 Opening BINARY mode data connection for file transfer.\r\n";
constexpr Text TransferComplete = "226 Transfer complete.\r\n";
constexpr Text CantOpenDataConnection = "425 Can't open data connection.\r\n";
constexpr Text TransferAborted = "426 Connection closed; transfer aborted.\r\n";
constexpr Text CantOpenFile = "550 Can't open file.\r\n";
constexpr Text CantCreateFile = "550 Can't create file.\r\n";
constexpr Text CantReadFile = "451 Can't read file.\r\n";
constexpr Text CantWriteFile = "452 Can't write file.\r\n";

// ---- With the extensions ----------------------------------------------

constexpr Text TooManyUsersLine = "502 Too many users on this server.\r\n";
constexpr Text SystemUnix = "215 UNIX Type: L8\r\n";
// FEAT's and HELP's lines between these come from the command table.
constexpr Text FeaturesStart = "211-Features:\r\n", FeaturesEnd = "211 End\r\n";
constexpr Text HelpStart = "214-The following commands are recognized.\r\n", HelpEnd = "214 Help OK.\r\n";
constexpr Text Utf8On = "200 UTF8 set to on\r\n";
constexpr const char* MlstOptionsFormat = "200 MLST OPTS %s\r\n";
constexpr Text OptionUnknown = "501 Option not understood.\r\n";
constexpr Text ParameterNotImplemented = "504 Command not implemented for that parameter.\r\n";
constexpr Text NotImplementedHere = "502 Command not implemented.\r\n";
constexpr Text ArgumentSyntax = "501 Syntax error in parameters or arguments.\r\n";
constexpr Text ModeOk = "200 Mode set to S.\r\n";
constexpr Text StructureOk = "200 Structure set to F.\r\n";
constexpr Text AlloOk = "202 No storage allocation necessary.\r\n";
constexpr Text TypeAscii = "200 Type set to A\r\n";
constexpr Text TypeImage = "200 Type set to I\r\n";
constexpr Text TypeLocal = "200 Type set to L 8\r\n";
constexpr Text ChmodOk = "200 SITE CHMOD command successful.\r\n";
constexpr Text ChmodFailed = "550 SITE CHMOD command failed.\r\n";
constexpr Text ChmodSpecialBits = "550 SITE CHMOD sets only the permission bits (000 to 777).\r\n";
constexpr Text ChmodRoot = "550 SITE CHMOD cannot change the root directory.\r\n";

constexpr const char* RestFormat = "350 Restarting at %" PRId64 ". Send STORE or RETRIEVE to initiate transfer.\r\n";
constexpr Text RestBeyondEnd = "554 Restart offset beyond the end of the file.\r\n";
constexpr Text OpeningAscii = "150 Opening ASCII mode data connection for file transfer.\r\n";
constexpr Text NoSuchPath = "550 No such file or directory.\r\n";
constexpr Text NotADirectory = "501 Not a directory.\r\n";
constexpr const char* ModifyTimeFormat = "213 %s\r\n";
constexpr const char* ModifySetFormat = "213 Modify=%s; ";  // then the path and "\r\n"
constexpr Text ModifySetFailed = "550 Could not set the modification time.\r\n";
constexpr Text NotAPlainFile = "550 Not a plain file.\r\n";
constexpr Text MlstStart = "250-Listing ", MlstEnd = "250 End.\r\n";

constexpr Text AbortOk = "226 ABOR command successful.\r\n";
constexpr Text NothingToAbort = "225 No transfer to abort.\r\n";
constexpr const char* TransferStatusFormat = "213-Status: %" PRId64 " bytes transferred.\r\n";  // then the transfer's line
constexpr Text TransferStatusEnd = "213 End of status.\r\n";
constexpr Text StatusStart = "211-vostrine status:\r\n", StatusEnd = "211 End of status.\r\n";
constexpr Text PathStatusStart = "213-Status of ", PathStatusEnd = "213 End of status.\r\n";

// Digests of files
constexpr const char* HashFormat = "213 %s %" PRId64 "-%" PRId64 " %s ";  // then the path and "\r\n"
constexpr const char* ChecksumFormat = "250 %s\r\n";
constexpr const char* HashSelectedFormat = "200 %s\r\n";
constexpr Text HashUnknown = "501 Unknown algorithm.\r\n";
constexpr const char* RangeFormat = "350 Range set: %" PRId64 "-%" PRId64 ".\r\n";
constexpr Text RangeReset = "350 Range reset: the whole file.\r\n";
constexpr Text RangeSyntax = "501 Bad range.\r\n";
constexpr Text HashNotAFile = "553 Not a plain file.\r\n";

constexpr const char* ExtendedPassiveFormat = "229 Entering Extended Passive Mode (|||%u|)\r\n";
constexpr Text EpsvAllOk = "200 EPSV ALL command successful.\r\n";
constexpr Text EpsvAllOnly = "503 EPSV ALL was given: use EPSV.\r\n";
constexpr Text EprtOk = "200 EPRT command successful.\r\n";
constexpr Text EprtIllegal = "500 Illegal EPRT command.\r\n";
constexpr Text EprtFamilyUnknown = "522 Network protocol not supported, use (1,2)\r\n";
constexpr Text EpsvFamilyIPv4 = "522 Network protocol not supported, use (1)\r\n";
constexpr Text EpsvFamilyIPv6 = "522 Network protocol not supported, use (2)\r\n";
constexpr Text IPv4CommandOnIPv6 = "522 PORT and PASV are for IPv4 connections: use EPRT or EPSV.\r\n";

// ---- FTPS, with a TLS certificate ----------------------------------------

constexpr Text AuthOk = "234 AUTH TLS successful.\r\n";
constexpr Text AuthAgain = "503 TLS is already on.\r\n";
constexpr Text AuthUnknown = "504 AUTH type not supported: use AUTH TLS.\r\n";
constexpr Text TlsFirst = "503 Send AUTH TLS first.\r\n";
constexpr Text PbszOk = "200 PBSZ=0\r\n";
constexpr Text ProtPrivate = "200 PROT now Private.\r\n";
constexpr Text ProtClear = "200 PROT now Clear.\r\n";
constexpr Text ProtUnsupported = "536 PROT level not supported.\r\n";
constexpr Text ProtUnknown = "504 PROT level unknown: use P or C.\r\n";
constexpr Text CccRefused = "534 CCC refused: the control connection stays encrypted.\r\n";
constexpr Text LoginOverTls = "530 Log in over TLS: send AUTH TLS first.\r\n";
constexpr Text DataMustBeProtected = "521 Data connections must be protected: send PROT P.\r\n";
constexpr Text DataSessionNotReused = "522 Data connection must reuse the control connection's TLS session.\r\n";

}  // namespace Replies
