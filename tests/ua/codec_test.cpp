// The binary encoding, the chunk reader and the secure channel's message
// layer, from bytes written down here (no server).
#include <gtest/gtest.h>

#include <future>

#include "ua/securechannel.h"
#include "ua/subscription.h"
#include "ua/subscriptiontypes.h"

namespace veze6::ua {
namespace {

using Bytes = std::vector<std::uint8_t>;

template <class F>
StatusCode decodeFails(const Bytes& bytes, F&& f) {
  try {
    BinaryDecoder d(bytes.data(), bytes.size());
    f(d);
  } catch (const DecodeError& e) {
    return e.code();
  }
  return status::Good;
}

TEST(Codec, DecodesRecordedBuiltinsAndEncodesThemBack) {
  // A DataValue: Variant Double 1.5, status UncertainInitialValue, source
  // time stamp; then a four-byte NodeId ns=2;i=300, a string NodeId, a
  // LocalizedText with both fields and an Int32 array with dimensions 2x2.
  const Bytes bytes = {0x07, 0x0B, 0,    0,    0,    0,    0,    0,    0xF8, 0x3F, 0x00,
                       0x00, 0x92, 0x40,                                     // value, status
                       0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08,       // source time
                       0x01, 0x02, 0x2C, 0x01,                               // ns=2;i=300
                       0x03, 0x01, 0x00, 0x02, 0,    0,    0,    'a',  'b',  // ns=1;s=ab
                       0x03, 0x02, 0,    0,    0,    'e',  'n',  0x02, 0,    0,    0,
                       'h',  'i',  // en: hi
                       0xC6, 0x04, 0,    0,    0,    1,    0,    0,    0,    2,    0,
                       0,    0,    3,    0,    0,    0,    4,    0,    0,    0,  // Int32[4]
                       0x02, 0,    0,    0,    2,    0,    0,    0,    2,    0,    0,
                       0};  // dims 2x2
  BinaryDecoder d(bytes.data(), bytes.size());
  const DataValue v = d.dataValue();
  EXPECT_EQ(v.value.type, BuiltinType::Double);
  EXPECT_EQ(v.value.toDouble(), 1.5);
  EXPECT_EQ(v.status, status::UncertainInitialValue);
  EXPECT_EQ(v.sourceTimestamp, 0x0807060504030201LL);
  EXPECT_EQ(d.nodeId(), NodeId(2, 300));
  EXPECT_EQ(d.nodeId(), NodeId(1, std::string("ab")));
  EXPECT_EQ(d.localizedText(), (LocalizedText{"en", "hi"}));
  const Variant matrix = d.variant();
  EXPECT_EQ(matrix.toString(), "[1, 2, 3, 4]");
  EXPECT_EQ(matrix.dimensions, (std::vector<std::int32_t>{2, 2}));
  d.expectEnd();

  Bytes again;
  BinaryEncoder e(again);
  e.dataValue(v);
  e.nodeId(NodeId(2, 300));
  e.nodeId(NodeId(1, std::string("ab")));
  e.localizedText({"en", "hi"});
  e.variant(matrix);
  EXPECT_EQ(again, bytes);
}

TEST(Codec, RefusesHostileLengthsCountsAndNesting) {
  // An array claiming more elements than bytes left: refused before any
  // allocation.
  EXPECT_EQ(decodeFails({0x86, 0xFF, 0xFF, 0xFF, 0x7F, 1, 0, 0, 0},
                        [](BinaryDecoder& d) { d.variant(); }),
            status::BadDecodingError);
  EXPECT_EQ(decodeFails({0xFE, 0xFF, 0xFF, 0xFF}, [](BinaryDecoder& d) { d.string(); }),
            status::BadDecodingError);
  EXPECT_EQ(decodeFails({0x05, 0, 0, 0, 'a'}, [](BinaryDecoder& d) { d.string(); }),
            status::BadDecodingError);
  // Null elements take no bytes: an array of them could be any size.
  EXPECT_EQ(decodeFails({0x80, 4, 0, 0, 0, 0, 0, 0, 0}, [](BinaryDecoder& d) { d.variant(); }),
            status::BadDecodingError);
  EXPECT_EQ(decodeFails({0x1A}, [](BinaryDecoder& d) { d.variant(); }),  // type 26
            status::BadDecodingError);
  EXPECT_EQ(decodeFails({0x18}, [](BinaryDecoder& d) { d.variant(); }),  // scalar variant
            status::BadDecodingError);
  EXPECT_EQ(decodeFails({0x06, 0x00}, [](BinaryDecoder& d) { d.nodeId(); }),
            status::BadDecodingError);
  // Dimensions that do not multiply to the element count.
  EXPECT_EQ(decodeFails({0xC6, 1, 0, 0, 0, 9, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0},
                        [](BinaryDecoder& d) { d.variant(); }),
            status::BadDecodingError);
  // Variants in variant arrays, 100 deep.
  Bytes deep;
  for (int i = 0; i < 100; ++i) deep.insert(deep.end(), {0x98, 1, 0, 0, 0});
  deep.push_back(0);
  EXPECT_EQ(decodeFails(deep, [](BinaryDecoder& d) { d.variant(); }), status::BadDecodingError);
  // Data values nested in data values.
  Bytes nested;
  for (int i = 0; i < 100; ++i) nested.insert(nested.end(), {0x01, 0x17});
  nested.push_back(0);
  EXPECT_EQ(decodeFails(nested, [](BinaryDecoder& d) { d.dataValue(); }), status::BadDecodingError);
}

TEST(Codec, DecodesARecordedDataChangeNotification) {
  // Two items: handle 7 -> Double 2.5; handle 8 -> bad status only.
  const Bytes body = {2, 0,    0, 0, 7, 0, 0,    0, 0x01, 0x0B, 0,    0,    0,    0,    0,   0,
                      4, 0x40, 8, 0, 0, 0, 0x02, 0, 0,    0x34, 0x80, 0xFF, 0xFF, 0xFF, 0xFF};
  std::vector<MonitoredItemNotification> items;
  BinaryDecoder d(body.data(), body.size());
  decodeDataChange(d, items);
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].clientHandle, 7u);
  EXPECT_EQ(items[0].value.value.toDouble(), 2.5);
  EXPECT_EQ(items[1].value.status, status::BadNodeIdUnknown);
  EXPECT_TRUE(items[1].value.value.isNull());
}

TEST(Transport, ParsesEndpointUrls) {
  auto u = EndpointUrl::parse("opc.tcp://[::1]:4841/path/x");
  ASSERT_TRUE(u);
  EXPECT_EQ(u->host, "::1");
  EXPECT_EQ(u->port, 4841);
  EXPECT_EQ(u->path, "/path/x");
  u = EndpointUrl::parse("opc.tcp://plant-7.example");
  ASSERT_TRUE(u);
  EXPECT_EQ(u->port, 4840);
  for (const char* bad : {"opc.tcp://", "http://h:1", "opc.tcp://h:", "opc.tcp://h:70000",
                          "opc.tcp://[::1", "opc.tcp://h:12x", "opc.tcp://[host]:1"})
    EXPECT_FALSE(EndpointUrl::parse(bad)) << bad;
}

TEST(Transport, ChunkReaderWaitsForWholeChunksAndRefusesBadHeaders) {
  ChunkReader reader(8192);
  const Bytes ack = {'A', 'C', 'K', 'F',  28, 0, 0, 0, 0, 0, 0, 0, 0, 0x20,
                     0,   0,   0,   0x20, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0};
  std::optional<Chunk> chunk;
  reader.append(ack.data(), 10);
  EXPECT_EQ(reader.take(chunk), status::Good);
  EXPECT_FALSE(chunk);
  reader.append(ack.data() + 10, ack.size() - 10);
  EXPECT_EQ(reader.take(chunk), status::Good);
  ASSERT_TRUE(chunk);
  EXPECT_TRUE(chunk->is("ACK"));
  EXPECT_EQ(chunk->body.size(), 20u);

  const Bytes huge = {'M', 'S', 'G', 'F', 0, 0, 1, 0};
  ChunkReader r2(8192);
  r2.append(huge.data(), huge.size());
  EXPECT_EQ(r2.take(chunk), status::BadTcpMessageTooLarge);
  const Bytes unknown = {'X', 'Y', 'Z', 'F', 16, 0, 0, 0};
  ChunkReader r3(8192);
  r3.append(unknown.data(), unknown.size());
  EXPECT_EQ(r3.take(chunk), status::BadTcpMessageTypeInvalid);
}

/// A chunk as the server would send it on a channel without security.
Chunk serverChunk(char kind, std::uint32_t channel, std::uint32_t token, std::uint32_t sequence,
                  std::uint32_t requestId, const Bytes& body) {
  Chunk c;
  std::memcpy(c.type, "MSG", 4);
  c.kind = kind;
  BinaryEncoder e(c.body);
  e.u32(channel);
  e.u32(token);
  e.u32(sequence);
  e.u32(requestId);
  c.body.insert(c.body.end(), body.begin(), body.end());
  return c;
}

TEST(SecureChannel, SplitsAndJoinsChunksWithinTheNegotiatedLimits) {
  TransportLimits ours;
  ours.maxMessageSize = 100;
  ours.maxChunkCount = 3;
  SecureChannel channel(ours);
  channel.setPeerLimits({8192, 8192, 20000, 3});
  channel.setToken({5, 1, 0, 60000});

  std::vector<Bytes> chunks;
  ASSERT_EQ(channel.encode("MSG", 9, Bytes(16000, 0xAB), chunks), status::Good);
  EXPECT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[0][3], 'C');
  EXPECT_EQ(chunks[1][3], 'F');
  for (const auto& c : chunks) EXPECT_LE(c.size(), 8192u);
  EXPECT_EQ(channel.encode("MSG", 10, Bytes(30000, 0), chunks), status::BadRequestTooLarge);

  std::optional<ChannelMessage> m;
  EXPECT_EQ(channel.receive(serverChunk('C', 5, 1, 1, 3, Bytes(40, 1)), m), status::Good);
  EXPECT_FALSE(m);
  EXPECT_EQ(channel.receive(serverChunk('F', 5, 1, 2, 3, Bytes(40, 2)), m), status::Good);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->requestId, 3u);
  EXPECT_EQ(m->body.size(), 80u);
  // An abort chunk ends its message with the server's status.
  const Bytes abort = {0x00, 0x00, 0x80, 0x80, 0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(channel.receive(serverChunk('A', 5, 1, 3, 4, abort), m), status::Good);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->abortStatus, status::BadTcpMessageTooLarge);
  // Interleaved halves of messages count together against the limit.
  EXPECT_EQ(channel.receive(serverChunk('C', 5, 1, 4, 6, Bytes(60, 0)), m), status::Good);
  EXPECT_EQ(channel.receive(serverChunk('C', 5, 1, 5, 7, Bytes(60, 0)), m),
            status::BadTcpMessageTooLarge);
  // Over our message size limit, a wrong channel, token or sequence number.
  EXPECT_EQ(channel.receive(serverChunk('F', 5, 1, 6, 5, Bytes(120, 0)), m),
            status::BadTcpMessageTooLarge);
  EXPECT_EQ(channel.receive(serverChunk('F', 6, 1, 5, 5, {}), m),
            status::BadTcpSecureChannelUnknown);
  EXPECT_EQ(channel.receive(serverChunk('F', 5, 2, 5, 5, {}), m),
            status::BadSecureChannelTokenUnknown);
  EXPECT_EQ(channel.receive(serverChunk('F', 5, 1, 9, 5, {}), m), status::BadSequenceNumberInvalid);
}

}  // namespace
}  // namespace veze6::ua

namespace veze6::ua {
namespace {

ExtensionObject dataChange(std::uint32_t handle, double value) {
  Bytes body;
  BinaryEncoder e(body);
  e.arrayLength(1);
  e.u32(handle);
  e.dataValue({Variant::float64(value)});
  e.arrayLength(0);
  return {NodeId(0, typeids::DataChangeNotification), ExtensionObject::Encoding::Binary,
          std::string(body.begin(), body.end())};
}

TEST(PublishLoop, AsksForMissedMessagesAndDropsRepeats) {
  IoThread io;
  Session session(io);  // never connected: Republish requests fail at once
  SubscriptionManager manager(session);
  std::vector<double> delivered;
  PublishStatistics stats;
  std::promise<void> done;
  io.post([&] {
    manager.add(1, {}, [&](std::uint32_t, const std::vector<MonitoredItemNotification>& items) {
      for (const auto& i : items) delivered.push_back(*i.value.value.toDouble());
    });
    manager.handleMessage(1, {1, 0, {dataChange(5, 1.0)}});
    manager.handleMessage(1, {4, 0, {dataChange(5, 4.0)}});  // 2 and 3 missing
    manager.handleMessage(1, {4, 0, {dataChange(5, 4.5)}});  // a repeat
    manager.handleMessage(1, {7, 0, {}});                    // keep-alive: 5 and 6 missing
    manager.handleMessage(2, {1, 0, {dataChange(5, 9.0)}});  // unknown subscription
    stats = manager.statistics();
    done.set_value();
  });
  done.get_future().wait();
  EXPECT_EQ(delivered, (std::vector<double>{1.0, 4.0}));
  EXPECT_EQ(stats.republishRequests, 4u);
  EXPECT_EQ(stats.keepAlives, 1u);
  EXPECT_EQ(stats.notifications, 2u);
}

}  // namespace
}  // namespace veze6::ua
