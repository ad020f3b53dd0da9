// One input of the remote stubs' fuzzer, shared by the libFuzzer target and
// the regular test that replays the saved corpus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace veze6fuzz {

/// Connects to a host in this process (started on first use, serving the
/// simulation server), creates a server object there and plays data as
/// calls: each record is a target byte (the host, the server object, or an
/// object an earlier answer handed out), a method byte, a 16-bit length and
/// that many bytes of a Cap'n Proto message, the call's parameters. Then it
/// disconnects and waits until the host has let go of everything; anything
/// left over (an object, task memory, a string) aborts, as a crash would.
/// Returns the number of calls answered without an exception.
int RunRemoteStubs(const std::uint8_t* data, std::size_t size);

/// Inputs worth starting from: well-formed calls of the common methods.
std::vector<std::vector<std::uint8_t>> RemoteStubSeeds();

}  // namespace veze6fuzz
