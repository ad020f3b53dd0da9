// The saved fuzz corpora, replayed on every build. The configuration
// reader's: each saved input loads or fails with a located parser or reader
// error, and whatever loads saves and reloads to the same text
// (componentreader_entry.h). The DA 1.0 stream decoder's: each block reads
// in both formats without reading outside it or leaking, and every value it
// decodes walks through the conversions.
#include <QDir>
#include <QFile>

#include "componentreader_entry.h"
#include "core/datastreamreader.h"
#include "simulator/registration.h"
#include "test_utils.h"

namespace {

TEST(FuzzCorpusTest, EverySavedInputLoadsOrFailsCleanly) {
  // Inputs that name the simulation server connect to it for real.
  veze6::sim::registerSimulationServer();
  const ScopedCaptureApplication quiet;  // a failing item's report is not printed
  const QDir corpus(QStringLiteral(VEZE6_FUZZ_CORPUS));
  const QStringList names = corpus.entryList(QDir::Files, QDir::Name);
  ASSERT_GE(names.size(), 10) << "corpus missing at " << corpus.path().toStdString();
  for (const QString& name : names) {
    QFile file(corpus.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    const QByteArray input = file.readAll();
    const QString failure = veze6fuzz::RunComponentReader(
        reinterpret_cast<const std::uint8_t*>(input.constData()), std::size_t(input.size()));
    EXPECT_TRUE(failure.isEmpty()) << name.toStdString() << ": " << failure.toStdString();
  }
}

TEST(FuzzCorpusTest, EverySavedStreamDecodesWithinItsBlock) {
  const veze6::test::LeakCheck leaks;
  const QDir corpus(QStringLiteral(VEZE6_DATASTREAM_CORPUS));
  const QStringList names = corpus.entryList(QDir::Files, QDir::Name);
  ASSERT_GE(names.size(), 8) << "corpus missing at " << corpus.path().toStdString();
  for (const QString& name : names) {
    QFile file(corpus.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    const QByteArray input = file.readAll();
    for (const bool withTime : {true, false}) {
      // A copy of exactly the file's size: the sanitizers see any overrun.
      const std::vector<char> block(input.begin(), input.end());
      TDataStreamReader reader;
      if (reader.Read(block.data(), block.size(), withTime) != TDataStreamReader::Result::Ok)
        continue;
      for (const auto& entry : reader.Entries()) {
        if (!entry.decoded) continue;
        const OleVariant value(entry.value);
        VarToAStr(value);
        VariantToQVariant(value.get());
      }
    }
  }
  leaks.expectBalanced();
}

}  // namespace
