#pragma once

#include <cstddef>
#include <cstdint>

// Drives the tool's receive path end to end from arbitrary bytes: the link
// cuts bursts by silences, checks them against the request in flight, and
// the window's dispatcher hands them to the pages and the decoders. The
// libFuzzer target and the replay of its corpus share it.
//
// An input is three header bytes, then operations:
//   header[0] & 7: the request put in flight first: 0 identity read,
//     1 monitoring read, 2 parameter read, 3 parameter write, 4 record read,
//     5 address-page command (monitoring off), 6 and 7 nothing at all;
//     header[0] & 0x80: Chinese texts instead of English;
//   header[1], header[2]: the write's register and count, the record's
//     number, or the command's code and value;
//   then each operation byte: its top two bits choose, its low six bits
//   are v: 0 the next v + 1 bytes arrive; 1 the line falls silent for
//   20 + v ms; 2 v ms pass; 3 a poll tick.
namespace ReceiveHarness {

// Once per process: the application object, databases in memory, one
// window on a port the harness plays.
void initialize(int *argc, char ***argv);
void runOne(const std::uint8_t *data, std::size_t size);

} // namespace ReceiveHarness
