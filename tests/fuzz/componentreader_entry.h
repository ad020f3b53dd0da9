// One input of the configuration reader's fuzzer, shared by the libFuzzer
// target and the regular test that replays the saved corpus.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

class TqOPCServer;

namespace veze6fuzz {

/// The text a component saves, and loading a text into a component, as
/// through a file.
QByteArray SaveToText(TqOPCServer& server);
void LoadFromText(TqOPCServer& server, const QByteArray& text);

/// Loads data into a fresh server component (LoadFromStream) and checks
/// what must hold for any input: the load succeeds or raises one of the
/// library's exceptions (a parser or reader error naming its line), the
/// component is never left loading, and a successful load saves a text that
/// loads into another fresh component and saves to the same bytes. Returns
/// an empty text when all held, otherwise what was violated.
QString RunComponentReader(const std::uint8_t* data, std::size_t size);

}  // namespace veze6fuzz
