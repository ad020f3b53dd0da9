#include "securechannel.h"

#include <cstring>

namespace veze6::ua {

namespace {

// A server holding more half-received messages than this is misbehaving.
constexpr std::size_t kMaxPartialMessages = 64;

}  // namespace

void SecureChannel::setToken(const ChannelSecurityToken& token) {
  channelId_ = token.channelId;
  previousTokenId_ = tokenId_;
  tokenId_ = token.tokenId;
}

StatusCode SecureChannel::encode(const char* type, std::uint32_t requestId,
                                 const std::vector<std::uint8_t>& body,
                                 std::vector<std::vector<std::uint8_t>>& chunks) {
  const bool open = std::strcmp(type, "OPN") == 0;
  std::vector<std::uint8_t> securityHeader;
  {
    BinaryEncoder e(securityHeader);
    if (open) {
      e.string(kSecurityPolicyNone);
      e.byteString({});
      e.byteString({});
    } else {
      e.u32(tokenId_);
    }
  }
  const std::size_t overhead = kChunkHeaderSize + 4 + securityHeader.size() + 8;
  const std::size_t chunkLimit = peer_.receiveBufferSize ? peer_.receiveBufferSize : 65536;
  if (chunkLimit <= overhead) return status::BadTcpInternalError;
  const std::size_t perChunk = chunkLimit - overhead;
  const std::size_t count = body.empty() ? 1 : (body.size() + perChunk - 1) / perChunk;
  if ((peer_.maxMessageSize && body.size() > peer_.maxMessageSize) ||
      (peer_.maxChunkCount && count > peer_.maxChunkCount))
    return status::BadRequestTooLarge;
  chunks.clear();
  chunks.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t from = i * perChunk;
    const std::size_t n = std::min(perChunk, body.size() - from);
    auto& c = chunks.emplace_back();
    c.reserve(overhead + n);
    c.insert(c.end(), type, type + 3);
    c.push_back(i + 1 == count ? 'F' : 'C');
    BinaryEncoder e(c);
    e.u32(0);
    e.u32(channelId_);
    c.insert(c.end(), securityHeader.begin(), securityHeader.end());
    // Sequence numbers wrap before the top so the peer sees them restart low.
    sendSequence_ = sendSequence_ >= 0xFFFFFBFFu ? 1 : sendSequence_ + 1;
    e.u32(sendSequence_);
    e.u32(requestId);
    c.insert(c.end(), body.begin() + std::ptrdiff_t(from), body.begin() + std::ptrdiff_t(from + n));
    e.patchU32(4, std::uint32_t(c.size()));
  }
  return status::Good;
}

StatusCode SecureChannel::checkSequence(std::uint32_t sequence) {
  if (receiveSequence_) {
    const std::uint32_t last = *receiveSequence_;
    const bool next = sequence == last + 1;
    const bool wrapped = last > 0xFFFFFBFFu - 1024 && sequence < 1024;
    if (!next && !wrapped) return status::BadSequenceNumberInvalid;
  }
  receiveSequence_ = sequence;
  return status::Good;
}

StatusCode SecureChannel::receive(const Chunk& chunk, std::optional<ChannelMessage>& out) {
  out.reset();
  try {
    BinaryDecoder d(chunk.body.data(), chunk.body.size());
    const std::uint32_t channelId = d.u32();
    const bool open = chunk.is("OPN");
    if (open) {
      const std::string policy = d.string();
      d.byteString();
      d.byteString();
      if (policy != kSecurityPolicyNone) return status::BadSecurityPolicyRejected;
      // The first OpenSecureChannel response names the channel.
      if (channelId_ != 0 && channelId != channelId_) return status::BadTcpSecureChannelUnknown;
    } else {
      if (channelId != channelId_) return status::BadTcpSecureChannelUnknown;
      const std::uint32_t token = d.u32();
      if (token != tokenId_ && (previousTokenId_ == 0 || token != previousTokenId_))
        return status::BadSecureChannelTokenUnknown;
    }
    const std::uint32_t sequence = d.u32();
    const std::uint32_t requestId = d.u32();
    if (StatusCode s = checkSequence(sequence); isBad(s)) return s;

    if (chunk.kind == 'A') {
      partial_.erase(requestId);
      ChannelMessage m;
      std::memcpy(m.type, chunk.type, 4);
      m.requestId = requestId;
      m.abortStatus = decodeError(d.position(), d.remaining(), &m.abortReason);
      out = std::move(m);
      return status::Good;
    }
    auto it = partial_.find(requestId);
    if (it == partial_.end()) {
      if (partial_.size() >= kMaxPartialMessages) return status::BadTcpNotEnoughResources;
      it = partial_.emplace(requestId, Partial{}).first;
    }
    Partial& p = it->second;
    if ((ours_.maxMessageSize && p.body.size() + d.remaining() > ours_.maxMessageSize) ||
        (ours_.maxChunkCount && p.chunks + 1 > ours_.maxChunkCount))
      return status::BadTcpMessageTooLarge;
    p.body.insert(p.body.end(), d.position(), d.position() + d.remaining());
    ++p.chunks;
    if (chunk.kind == 'C') return status::Good;
    ChannelMessage m;
    std::memcpy(m.type, chunk.type, 4);
    m.requestId = requestId;
    m.body = std::move(p.body);
    partial_.erase(it);
    out = std::move(m);
    return status::Good;
  } catch (const DecodeError& e) {
    return e.code();
  }
}

}  // namespace veze6::ua
