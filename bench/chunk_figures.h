// The host's per-chunk cost, measured on its own: the heap allocations made
// while composing and sending a write-data message, and the time 7-bit
// packing and CRC-32 take for one chunk.
#pragma once

#include <optional>

namespace kv::bench {

// Allocations per SendWriteChunk over `chunks` sends through a loopback
// output whose device side does nothing, so only the host's own path is
// seen. Empty when a send failed or allocations cannot be counted.
std::optional<double> AllocationsPerChunk(int chunks);

// PackSevenBit plus Crc32 of one 2048-byte chunk, in nanoseconds, averaged
// over `iterations`.
double PackCrcNsPerChunk(int iterations);

}  // namespace kv::bench
