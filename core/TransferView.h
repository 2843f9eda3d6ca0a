// How a transfer (or a hash) under way looks to the operator ("view xfer",
// with --extensions) and to its client (STAT during the transfer): the same
// fields, read from the connection's record.
#pragma once

#include <cstdint>
#include <string>

struct ConnectionRecord;

// "MOVED of SIZE bytes, R1 B/s in the last second, R2 B/s since the start,
// S s": the size only when known.
std::string TransferFields(const ConnectionRecord& record, int64_t now);

// The console's "view xfer": a header and one aligned line per transfer
// under way (socket, account, client, command and path, then its fields),
// or "no transfers".
std::string TransferTable();

// The idle supervisor's once-a-second look: how many bytes each transfer moved since the last.
void SampleTransferRates(ConnectionRecord& record);
