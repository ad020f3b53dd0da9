// libFuzzer target of the configuration reader: every input goes through
// TqOPCServer::LoadFromStream (see componentreader_entry.h).
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>

#include "componentreader_entry.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static QCoreApplication app(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const QString failure = veze6fuzz::RunComponentReader(data, size);
  if (!failure.isEmpty()) {
    std::fprintf(stderr, "fuzz_componentreader: %s\n", failure.toUtf8().constData());
    std::abort();
  }
  return 0;
}
