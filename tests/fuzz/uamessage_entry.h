// One input of the OPC UA message decoder's fuzzer, shared by the libFuzzer
// target and the regular test that replays the saved corpus.
#pragma once

#include <cstddef>
#include <cstdint>

namespace veze6fuzz {

/// Feeds data as bytes from a server through the chunk reader, the secure
/// channel (no security) and the decoder of every response the client
/// reads. Decoding faults must come out as status codes or DecodeError;
/// anything else (a crash, a sanitizer report, another exception) is a bug.
/// Returns the number of messages that decoded completely.
int RunUaMessageDecoder(const std::uint8_t* data, std::size_t size);

}  // namespace veze6fuzz
