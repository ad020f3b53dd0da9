// One input of the registration file parser's fuzzer, shared by the
// libFuzzer target and the regular test that replays the saved corpus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace veze6fuzz {

/// Parses data as the text of a registration file and checks what must hold
/// for any text: the warnings stay within their limit; every class names a
/// line of the file, has a class id of its own, no category twice, absolute
/// paths and either a module or an endpoint; and the classes written back
/// as a registration file parse to the same classes without a warning.
/// Returns an empty text when all held, otherwise what was violated.
std::string RunRegistrationFile(const std::uint8_t* data, std::size_t size);

}  // namespace veze6fuzz
