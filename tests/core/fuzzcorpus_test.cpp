// The saved fuzz corpora, replayed on every build. The configuration
// reader's: each saved input loads or fails with a located parser or reader
// error, and whatever loads saves and reloads to the same text
// (componentreader_entry.h). The DA 1.0 stream decoder's: each block reads
// in both formats without reading outside it or leaking, and every value it
// decodes walks through the conversions and writes back (datastream_entry.h).
#include <QDir>
#include <QFile>

#include "componentreader_entry.h"
#include "datastream_entry.h"
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
  const QDir corpus(QStringLiteral(VEZE6_DATASTREAM_CORPUS));
  const QStringList names = corpus.entryList(QDir::Files, QDir::Name);
  ASSERT_GE(names.size(), 8) << "corpus missing at " << corpus.path().toStdString();
  for (const QString& name : names) {
    QFile file(corpus.filePath(name));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    const QByteArray input = file.readAll();
    const QString failure = veze6fuzz::RunDataStream(
        reinterpret_cast<const std::uint8_t*>(input.constData()), std::size_t(input.size()));
    EXPECT_TRUE(failure.isEmpty()) << name.toStdString() << ": " << failure.toStdString();
  }
}

}  // namespace
