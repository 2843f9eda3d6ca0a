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

// Command loop
constexpr Text WelcomePrefix = "220 ", WelcomeSuffix = "\r\n";
constexpr Text SyntaxError = "500 Syntax error, command unrecognized.\r\n";
constexpr Text PleaseLogin = "530 Please login with USER and PASS.\r\n";
constexpr Text NotImplemented = "500 Command not implemented.\r\n";

// Login and basic commands
constexpr Text PasswordRequiredPrefix = "331 Password required for ", PasswordRequiredSuffix = "\r\n";
constexpr Text NoUserSelected = "530 Not logged in, user or password incorrect!\r\n";
constexpr Text WrongPassword = "530 Not logged in, user or password incorrect.\r\n";
constexpr Text TooManyPeople = "530 Not logged in, too many people are using this user.\r\n";
constexpr Text NoHomeDirectory = "530 Not logged in, user has no home directory.\r\n";
constexpr Text LoggedIn = "230 User successfully logged in.\r\n";
constexpr Text CurrentDirectoryPrefix = "257 \"", CurrentDirectorySuffix = "\" is current directory.\r\n";
constexpr Text TypeSetPrefix = "200 Type set to ", TypeSetSuffix = "\r\n";
constexpr Text System = "215 Windows_NT\r\n";
constexpr Text Ok = "200 OK\r\n";
constexpr Text GoodByePrefix = "221 ", GoodByeSuffix = "\r\n";

// CWD
constexpr Text DirectoryChangedPrefix = "250 \"", DirectoryChangedSuffix = "\" is current directory.\r\n";
constexpr Text CwdFailedPrefix = "550 CWD failed. \"", CwdFailedSuffix = "\": directory not found.\r\n";

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

}  // namespace Replies
