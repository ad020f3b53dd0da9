// One input of the DA 1.0 stream decoder's fuzzer, shared by the libFuzzer
// target and the regular test that replays the saved corpus.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>

namespace veze6fuzz {

/// Reads data as a stream's block, with and without time stamps, from a copy
/// of exactly its size (the sanitizers see any read past it), and checks
/// what must hold for any block: a refused block yields no entries; every
/// decoded value is a valid VARIANT, walks through the display conversions,
/// and writes back as a stream value that decodes to the same bytes; once
/// the reader is gone every string, array and block is released. Returns an
/// empty text when all held, otherwise what was violated.
QString RunDataStream(const std::uint8_t* data, std::size_t size);

}  // namespace veze6fuzz
