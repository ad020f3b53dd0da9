#include "exceptions.h"
#include "textparser_p.h"

namespace {

bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(unsigned char c) {
  return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
int hexValue(unsigned char c) {
  if (isDigit(c)) return c - '0';
  return (c | 0x20) - 'a' + 10;
}
bool isIdentStart(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool isIdentChar(unsigned char c) { return isIdentStart(c) || isDigit(c); }
bool isBlank(unsigned char c) { return c >= 1 && c <= 32; }

constexpr char32_t kMaxCode = 0x10FFFF;

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(QByteArrayView bytes) {
  const qsizetype n = bytes.size();
  qsizetype i = 0;
  while (i < n) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    int length;
    char32_t code;
    char32_t least;
    if ((c & 0xE0) == 0xC0) {
      length = 2, code = c & 0x1F, least = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3, code = c & 0x0F, least = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4, code = c & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (n - i < length) return false;
    for (int k = 1; k < length; ++k) {
      const auto d = static_cast<unsigned char>(bytes[i + k]);
      if ((d & 0xC0) != 0x80) return false;
      code = (code << 6) | (d & 0x3F);
    }
    if (code < least || code > kMaxCode || (code >= 0xD800 && code <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

// A quoted part on its own: UTF-8, or, for text from an 8-bit code page that
// is not valid UTF-8, one character per byte.
QString decodePart(QByteArrayView bytes) {
  return isValidUtf8(bytes) ? QString::fromUtf8(bytes) : QString::fromLatin1(bytes);
}

void appendCode(QString& text, char32_t code) {
  if (code <= 0xFFFF) {
    text.append(QChar(char16_t(code)));
  } else {
    text.append(QChar(QChar::highSurrogate(code)));
    text.append(QChar(QChar::lowSurrogate(code)));
  }
}

}  // namespace

TTextParser::TTextParser(QByteArrayView text, qsizetype maxString, bool truncated)
    : text_(text), maxString_(maxString), truncated_(truncated) {
  NextToken();
}

bool TTextParser::atEnd() const { return pos_ >= text_.size() || text_[pos_] == '\0'; }

unsigned char TTextParser::peek(qsizetype ahead) const {
  const qsizetype at = pos_ + ahead;
  return at < text_.size() ? static_cast<unsigned char>(text_[at]) : 0;
}

void TTextParser::advance() {
  const auto c = static_cast<unsigned char>(text_[pos_++]);
  if (c == '\n') {
    ++cur_.line;
    cur_.column = 1;
  } else if ((c & 0xC0) != 0x80) {  // continuation bytes belong to the character before
    ++cur_.column;
  }
}

void TTextParser::skipBlanks() {
  while (pos_ < text_.size() && isBlank(peek())) advance();
}

bool TTextParser::TokenIdentIs(QByteArrayView word) const {
  return token_ == Identifier && tokenText_.size() == word.size() &&
         qstrnicmp(tokenText_.data(), tokenText_.size(), word.data(), word.size()) == 0;
}

QString TTextParser::TokenDescription() const {
  switch (token_) {
    case EndOfText:
      return QStringLiteral("end of text");
    case Symbol:
      return u'\'' + QChar::fromLatin1(TokenSymbol()) + u'\'';
    case String:
      return QStringLiteral("a text");
    default:
      return u'\'' + QString::fromLatin1(tokenText_) + u'\'';
  }
}

qsizetype TTextParser::OffsetAfterTokenAndBlanks() const {
  qsizetype at = pos_;
  while (at < text_.size() && isBlank(static_cast<unsigned char>(text_[at]))) ++at;
  return at;
}

QString TTextParser::Located(TTextPos pos, const QString& path, const QString& message) {
  QString text = QStringLiteral("line %1, column %2: ").arg(pos.line).arg(pos.column);
  if (!path.isEmpty()) text += path + QStringLiteral(": ");
  return text + message;
}

void TTextParser::Error(const QString& message) const {
  throw EParserError(Located(tokenPos_, context_ ? *context_ : QString(), message));
}

void TTextParser::Expected(const QString& what) const {
  Error(QStringLiteral("%1 expected but %2 found").arg(what, TokenDescription()));
}

void TTextParser::limitError(const QString& message) const {
  throw EReadError(Located(tokenPos_, context_ ? *context_ : QString(), message));
}

void TTextParser::errorHere(const QString& message) const {
  // Running off a text that was cut at the size limit is the limit's fault.
  if (truncated_ && pos_ >= text_.size())
    limitError(QStringLiteral("the text is longer than the reader's limit"));
  Error(message);
}

void TTextParser::NextToken() {
  skipBlanks();
  tokenStart_ = pos_;
  tokenPos_ = cur_;
  tokenText_ = {};
  string_.clear();
  hex_ = false;
  if (atEnd()) {
    token_ = EndOfText;
    if (truncated_ && pos_ >= text_.size())
      limitError(QStringLiteral("the text is longer than the reader's limit"));
    return;
  }
  const unsigned char c = peek();
  if (isIdentStart(c)) {
    readIdentifier();
  } else if (isDigit(c) || c == '-') {
    readNumber();
  } else if (c == '$') {
    readHex();
  } else if (c == '\'' || c == '#') {
    readString();
  } else if (c > 32 && c < 127) {
    advance();
    token_ = Symbol;
  } else {
    token_ = Symbol;  // for the description; the error follows
    Error(QStringLiteral("invalid character #%1").arg(c));
  }
}

void TTextParser::readIdentifier() {
  token_ = Identifier;
  while (pos_ < text_.size() && isIdentChar(peek())) advance();
  tokenText_ = text_.sliced(tokenStart_, pos_ - tokenStart_);
  if (tokenText_.size() > kMaxIdentifier)
    Error(QStringLiteral("identifier longer than %1 characters").arg(kMaxIdentifier));
}

void TTextParser::checkNoIdentifierAfter() {
  if (isIdentChar(peek())) {
    token_ = Symbol;
    Error(QStringLiteral("invalid number"));
  }
}

void TTextParser::readNumber() {
  token_ = Integer;
  if (peek() == '-') {
    advance();
    if (!isDigit(peek())) {
      token_ = Symbol;
      Error(QStringLiteral("number expected after '-'"));
    }
  }
  while (isDigit(peek())) advance();
  if (peek() == '.') {
    token_ = Float;
    advance();
    while (isDigit(peek())) advance();
  }
  if (peek() == 'e' || peek() == 'E') {
    token_ = Float;
    advance();
    if (peek() == '+' || peek() == '-') advance();
    if (!isDigit(peek())) {
      token_ = Symbol;
      Error(QStringLiteral("invalid number"));
    }
    while (isDigit(peek())) advance();
  }
  const qsizetype end = pos_;
  // The platform's writer may mark a number's type: currency, date, single.
  if (const unsigned char s = peek() | 0x20; s == 'c' || s == 'd' || s == 's') {
    token_ = Float;
    advance();
  }
  checkNoIdentifierAfter();
  tokenText_ = text_.sliced(tokenStart_, end - tokenStart_);
  if (end - tokenStart_ > kMaxNumber)
    Error(QStringLiteral("number longer than %1 characters").arg(kMaxNumber));
}

void TTextParser::readHex() {
  token_ = Integer;
  hex_ = true;
  advance();
  const qsizetype start = pos_;
  while (isHexDigit(peek())) advance();
  checkNoIdentifierAfter();
  tokenText_ = text_.sliced(start, pos_ - start);
  if (tokenText_.isEmpty()) Error(QStringLiteral("hexadecimal digits expected after '$'"));
  if (tokenText_.size() > 16) Error(QStringLiteral("hexadecimal number too large"));
}

// A text token: quoted parts and #n codes, written side by side. Whether the
// writer gave each UTF-8 byte its own #n or each character one cannot be
// told from a single code, so the whole token decides: when every code fits
// a byte and the bytes together are valid UTF-8 they are bytes, otherwise
// each code is a character (a UTF-16 unit or a code point).
void TTextParser::readString() {
  token_ = String;
  QByteArray bytes;
  QString characters;
  bool allBytes = true;
  qsizetype units = 0;
  auto count = [&] {
    if (++units > maxString_)
      limitError(QStringLiteral("text longer than %1 characters").arg(maxString_));
  };
  for (;;) {
    if (peek() == '\'' && pos_ < text_.size()) {
      advance();
      const qsizetype partStart = bytes.size();
      for (;;) {
        const unsigned char c = peek();
        if (pos_ >= text_.size() || c == '\0' || c == '\n' || c == '\r')
          errorHere(QStringLiteral("unterminated text"));
        advance();
        if (c == '\'') {
          if (peek() != '\'' || pos_ >= text_.size()) break;
          advance();
        }
        bytes.append(char(c));
        count();
      }
      characters += decodePart(QByteArrayView(bytes).sliced(partStart));
    } else if (peek() == '#' && pos_ < text_.size()) {
      advance();
      char32_t code = 0;
      if (peek() == '$') {
        advance();
        if (!isHexDigit(peek())) errorHere(QStringLiteral("character code expected after '#$'"));
        while (isHexDigit(peek())) {
          code = code * 16 + char32_t(hexValue(peek()));
          if (code > kMaxCode) Error(QStringLiteral("invalid character code"));
          advance();
        }
      } else {
        if (!isDigit(peek())) errorHere(QStringLiteral("character code expected after '#'"));
        while (isDigit(peek())) {
          code = code * 10 + char32_t(peek() - '0');
          if (code > kMaxCode) Error(QStringLiteral("invalid character code"));
          advance();
        }
      }
      if (code > 0xFF)
        allBytes = false;
      else
        bytes.append(char(code));
      appendCode(characters, code);
      count();
    } else {
      break;
    }
  }
  string_ = allBytes && isValidUtf8(bytes) ? QString::fromUtf8(QByteArrayView(bytes)) : characters;
}
