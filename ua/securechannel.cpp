#include "securechannel.h"

#include <cstring>

namespace veze6::ua {

namespace {

// A server holding more half-received messages than this is misbehaving.
constexpr std::size_t kMaxPartialMessages = 64;

std::string text(const crypto::Bytes& b) { return std::string(b.begin(), b.end()); }

}  // namespace

void SecureChannel::setToken(const ChannelSecurityToken& token, crypto::ChannelKeys keys) {
  channelId_ = token.channelId;
  // Only the current and the previous token stay valid.
  if (previousTokenId_ && previousTokenId_ != token.tokenId) keys_.erase(previousTokenId_);
  previousTokenId_ = tokenId_;
  tokenId_ = token.tokenId;
  keys_[token.tokenId] = std::move(keys);
}

SecureChannel::Layout SecureChannel::sendLayout(bool open) const {
  Layout l;
  if (!security_.secure()) return l;
  const auto& policy = security_.policy;
  if (open) {
    // OpenSecureChannel is signed and encrypted with the certificates'
    // keys in both Sign and SignAndEncrypt.
    l.sign = l.encrypt = true;
    l.signatureSize = policy.asymmetricSignatureSize(security_.own->key);
    l.plainBlock = policy.asymmetricPlainTextBlockSize(*security_.server);
    l.cipherBlock = policy.asymmetricCipherTextBlockSize(*security_.server);
    l.extraPadding = l.cipherBlock > 256 ? 1 : 0;
  } else {
    l.sign = true;
    l.encrypt = security_.mode == MessageSecurityMode::SignAndEncrypt;
    l.signatureSize = policy.symmetricSignatureSize();
    if (l.encrypt) l.plainBlock = l.cipherBlock = policy.encryptingBlockSize();
  }
  return l;
}

std::vector<std::uint8_t> SecureChannel::protect(const char* type, char kind,
                                                 const std::vector<std::uint8_t>& securityHeader,
                                                 std::vector<std::uint8_t> plain, bool open) {
  const Layout l = sendLayout(open);
  if (l.encrypt) {
    const std::size_t used = plain.size() + 1 + l.extraPadding + l.signatureSize;
    const std::size_t padding = (l.plainBlock - used % l.plainBlock) % l.plainBlock;
    plain.insert(plain.end(), padding + 1, std::uint8_t(padding & 0xFF));
    if (l.extraPadding) plain.push_back(std::uint8_t(padding >> 8));
  }
  const std::size_t protectedSize =
      l.encrypt ? (plain.size() + l.signatureSize) / l.plainBlock * l.cipherBlock
                : plain.size() + l.signatureSize;
  std::vector<std::uint8_t> c{std::uint8_t(type[0]), std::uint8_t(type[1]), std::uint8_t(type[2]),
                              std::uint8_t(kind)};
  c.reserve(12 + securityHeader.size() + protectedSize);
  BinaryEncoder e(c);
  e.u32(std::uint32_t(12 + securityHeader.size() + protectedSize));
  e.u32(channelId_);
  c.insert(c.end(), securityHeader.begin(), securityHeader.end());
  const std::size_t start = c.size();
  c.insert(c.end(), plain.begin(), plain.end());
  if (!l.sign) return c;
  const auto& policy = security_.policy;
  const crypto::Bytes signature = open ? policy.asymmetricSign(security_.own->key, c)
                                       : policy.symmetricSign(keys_.at(tokenId_).client, c);
  c.insert(c.end(), signature.begin(), signature.end());
  if (!l.encrypt) return c;
  if (open) {
    const crypto::Bytes cipher = policy.asymmetricEncrypt(
        *security_.server, crypto::ByteView(c.data() + start, c.size() - start));
    c.resize(start);
    c.insert(c.end(), cipher.begin(), cipher.end());
  } else {
    policy.symmetricEncrypt(keys_.at(tokenId_).client,
                            crypto::MutableByteView(c.data() + start, c.size() - start));
  }
  return c;
}

StatusCode SecureChannel::encode(const char* type, std::uint32_t requestId,
                                 const std::vector<std::uint8_t>& body,
                                 std::vector<std::vector<std::uint8_t>>& chunks) {
  const bool open = std::strcmp(type, "OPN") == 0;
  std::vector<std::uint8_t> securityHeader;
  {
    BinaryEncoder e(securityHeader);
    if (open) {
      e.string(std::string(security_.secure() ? security_.policy.uri() : kSecurityPolicyNone));
      e.byteString(security_.secure() ? text(security_.own->certificate.toDer()) : std::string());
      e.byteString(security_.secure() ? text(security_.server->thumbprint()) : std::string());
    } else {
      e.u32(tokenId_);
    }
  }
  const Layout l = sendLayout(open);
  const std::size_t chunkLimit = peer_.receiveBufferSize ? peer_.receiveBufferSize : 65536;
  const std::size_t fixed = kChunkHeaderSize + 4 + securityHeader.size();
  if (chunkLimit <= fixed + l.cipherBlock) return status::BadTcpInternalError;
  // The largest plain text a chunk can carry, in whole encryption blocks.
  const std::size_t plainRoom = (chunkLimit - fixed) / l.cipherBlock * l.plainBlock;
  const std::size_t overhead = 8 + l.signatureSize + (l.encrypt ? 1 + l.extraPadding : 0);
  if (plainRoom <= overhead) return status::BadTcpInternalError;
  const std::size_t perChunk = plainRoom - overhead;
  const std::size_t count = body.empty() ? 1 : (body.size() + perChunk - 1) / perChunk;
  if ((peer_.maxMessageSize && body.size() > peer_.maxMessageSize) ||
      (peer_.maxChunkCount && count > peer_.maxChunkCount))
    return status::BadRequestTooLarge;
  std::vector<std::vector<std::uint8_t>> out;
  out.reserve(count);
  try {
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t from = i * perChunk;
      const std::size_t n = std::min(perChunk, body.size() - from);
      std::vector<std::uint8_t> plain;
      plain.reserve(8 + n + l.plainBlock + l.signatureSize);
      BinaryEncoder e(plain);
      // Sequence numbers wrap before the top so the peer sees them restart low.
      sendSequence_ = sendSequence_ >= 0xFFFFFBFFu ? 1 : sendSequence_ + 1;
      e.u32(sendSequence_);
      e.u32(requestId);
      plain.insert(plain.end(), body.begin() + std::ptrdiff_t(from),
                   body.begin() + std::ptrdiff_t(from + n));
      out.push_back(
          protect(type, i + 1 == count ? 'F' : 'C', securityHeader, std::move(plain), open));
    }
  } catch (const crypto::CryptoError&) {
    return status::BadSecurityChecksFailed;
  }
  chunks = std::move(out);
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

StatusCode SecureChannel::unprotect(const std::vector<std::uint8_t>& whole, std::size_t offset,
                                    bool open, std::uint32_t token,
                                    std::vector<std::uint8_t>& plain) {
  const crypto::ByteView rest(whole.data() + offset, whole.size() - offset);
  if (!security_.secure()) {
    plain.assign(rest.begin(), rest.end());
    return status::Good;
  }
  const auto& policy = security_.policy;
  try {
    std::size_t signatureSize;
    bool encrypted;
    std::size_t extraPadding = 0;
    if (open) {
      plain = policy.asymmetricDecrypt(security_.own->key, rest);
      signatureSize = policy.asymmetricSignatureSize(*security_.server);
      encrypted = true;
      extraPadding = security_.own->key.bits() > 2048 ? 1 : 0;
    } else {
      const auto keys = keys_.find(token);
      if (keys == keys_.end()) return status::BadSecureChannelTokenUnknown;
      plain.assign(rest.begin(), rest.end());
      encrypted = security_.mode == MessageSecurityMode::SignAndEncrypt;
      if (encrypted) {
        if (plain.size() % policy.encryptingBlockSize()) return status::BadSecurityChecksFailed;
        policy.symmetricDecrypt(keys->second.server, plain);
      }
      signatureSize = policy.symmetricSignatureSize();
      if (plain.size() < signatureSize) return status::BadSecurityChecksFailed;
      std::vector<std::uint8_t> signedPart(whole.begin(), whole.begin() + std::ptrdiff_t(offset));
      signedPart.insert(signedPart.end(), plain.begin(),
                        plain.end() - std::ptrdiff_t(signatureSize));
      if (!policy.symmetricVerify(
              keys->second.server, signedPart,
              crypto::ByteView(plain.data() + plain.size() - signatureSize, signatureSize)))
        return status::BadSecurityChecksFailed;
    }
    if (plain.size() < signatureSize + 8) return status::BadSecurityChecksFailed;
    if (open) {
      std::vector<std::uint8_t> signedPart(whole.begin(), whole.begin() + std::ptrdiff_t(offset));
      signedPart.insert(signedPart.end(), plain.begin(),
                        plain.end() - std::ptrdiff_t(signatureSize));
      if (!policy.asymmetricVerify(
              *security_.server, signedPart,
              crypto::ByteView(plain.data() + plain.size() - signatureSize, signatureSize)))
        return status::BadSecurityChecksFailed;
    }
    plain.resize(plain.size() - signatureSize);
    if (encrypted) {
      if (plain.size() < 1 + extraPadding) return status::BadSecurityChecksFailed;
      std::size_t padding = plain[plain.size() - 1 - extraPadding];
      if (extraPadding) padding |= std::size_t(plain.back()) << 8;
      const std::size_t total = padding + 1 + extraPadding;
      if (plain.size() < total + 8) return status::BadSecurityChecksFailed;
      plain.resize(plain.size() - total);
    }
    return status::Good;
  } catch (const crypto::CryptoError&) {
    return status::BadSecurityChecksFailed;
  }
}

StatusCode SecureChannel::receive(const Chunk& chunk, std::optional<ChannelMessage>& out) {
  out.reset();
  try {
    BinaryDecoder d(chunk.body.data(), chunk.body.size());
    const std::uint32_t channelId = d.u32();
    const bool open = chunk.is("OPN");
    std::uint32_t token = 0;
    if (open) {
      const std::string policy = d.string();
      const std::string sender = d.byteString();
      const std::string thumbprint = d.byteString();
      const std::string_view expected =
          security_.secure() ? security_.policy.uri() : std::string_view(kSecurityPolicyNone);
      if (policy != expected) return status::BadSecurityPolicyRejected;
      if (security_.secure() && (thumbprint != text(security_.own->certificate.thumbprint()) ||
                                 sender != text(security_.server->toDer())))
        return status::BadCertificateInvalid;
      // The first OpenSecureChannel response names the channel.
      if (channelId_ != 0 && channelId != channelId_) return status::BadTcpSecureChannelUnknown;
    } else {
      if (channelId != channelId_) return status::BadTcpSecureChannelUnknown;
      token = d.u32();
      if (token != tokenId_ && (previousTokenId_ == 0 || token != previousTokenId_))
        return status::BadSecureChannelTokenUnknown;
    }
    std::vector<std::uint8_t> plain;
    const std::uint8_t* plainData = d.position();
    std::size_t plainSize = d.remaining();
    if (security_.secure()) {
      // Signatures cover the chunk from its first byte, so rebuild the header.
      std::vector<std::uint8_t> whole(kChunkHeaderSize + chunk.body.size());
      std::memcpy(whole.data(), chunk.type, 3);
      whole[3] = std::uint8_t(chunk.kind);
      const std::uint32_t size = std::uint32_t(whole.size());
      std::memcpy(whole.data() + 4, &size, 4);
      std::memcpy(whole.data() + kChunkHeaderSize, chunk.body.data(), chunk.body.size());
      if (StatusCode s = unprotect(whole, kChunkHeaderSize + (d.position() - chunk.body.data()),
                                   open, token, plain);
          isBad(s))
        return s;
      plainData = plain.data();
      plainSize = plain.size();
    }
    BinaryDecoder p(plainData, plainSize);
    const std::uint32_t sequence = p.u32();
    const std::uint32_t requestId = p.u32();
    if (StatusCode s = checkSequence(sequence); isBad(s)) return s;

    if (chunk.kind == 'A') {
      if (auto aborted = partial_.find(requestId); aborted != partial_.end()) {
        partialBytes_ -= aborted->second.body.size();
        partial_.erase(aborted);
      }
      ChannelMessage m;
      std::memcpy(m.type, chunk.type, 4);
      m.requestId = requestId;
      m.abortStatus = decodeError(p.position(), p.remaining(), &m.abortReason);
      out = std::move(m);
      return status::Good;
    }
    auto it = partial_.find(requestId);
    if (it == partial_.end()) {
      if (partial_.size() >= kMaxPartialMessages) return status::BadTcpNotEnoughResources;
      it = partial_.emplace(requestId, Partial{}).first;
    }
    Partial& part = it->second;
    // Half-received messages together may not hold more than one message
    // could, so interleaved chunks cannot multiply the memory a server takes.
    if ((ours_.maxMessageSize && partialBytes_ + p.remaining() > ours_.maxMessageSize) ||
        (ours_.maxChunkCount && part.chunks + 1 > ours_.maxChunkCount))
      return status::BadTcpMessageTooLarge;
    part.body.insert(part.body.end(), p.position(), p.position() + p.remaining());
    partialBytes_ += p.remaining();
    ++part.chunks;
    if (chunk.kind == 'C') return status::Good;
    ChannelMessage m;
    std::memcpy(m.type, chunk.type, 4);
    m.requestId = requestId;
    partialBytes_ -= part.body.size();
    m.body = std::move(part.body);
    partial_.erase(it);
    out = std::move(m);
    return status::Good;
  } catch (const DecodeError& e) {
    return e.code();
  }
}

}  // namespace veze6::ua
