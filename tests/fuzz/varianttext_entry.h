// One input of the text conversion's fuzzer, shared by the libFuzzer target
// and the regular test that replays the saved corpus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace veze6fuzz {

/// Takes data as a string, each byte one character, converts it to every
/// scalar type and checks what must hold for any text: each conversion ends
/// in a value of the type asked for, an overflow or a type mismatch; one
/// number reading serves every numeric type; every value read writes back
/// as text that reads as the same value (dates to the millisecond their
/// text keeps); no string is left allocated. Returns an empty text when all
/// held, otherwise what was violated.
std::string RunVariantText(const std::uint8_t* data, std::size_t size);

}  // namespace veze6fuzz
