#include "Connection/Dialect.h"

#include "core/Options.h"

namespace {

constexpr Dialect Classic{
    .Extended = false,
    .System = Replies::System,
    .TooManyUsers = Replies::TooManyUsers,
    .ListOutside = Replies::FileNotFound,
    .List = ListingStyle::Plain,
    .FirstType = TransferType::Binary,  // every transfer is binary; TYPE is only acknowledged
    .QuotesPaths = false,
    .NormalisesCwd = false,
    .ChecksType = false,
    .ListsOnlyWhatExists = false,
    .HearsDuringTransfer = false,  // lines wait for the transfer's end
    .PortRules = false,
    .DualStack = false,
};

constexpr Dialect Extensions{
    .Extended = true,
    .System = Replies::SystemUnix,
    .TooManyUsers = Replies::TooManyUsersLine,
    .ListOutside = Replies::NoSuchPath,
    .List = ListingStyle::Long,
    .FirstType = TransferType::Ascii,  // as RFC 959 says
    .QuotesPaths = true,
    .NormalisesCwd = true,
    .ChecksType = true,
    .ListsOnlyWhatExists = true,
    .HearsDuringTransfer = true,
    .PortRules = true,
    .DualStack = true,
};

}  // namespace

const Dialect& Spoken() { return Options.Extensions ? Extensions : Classic; }
