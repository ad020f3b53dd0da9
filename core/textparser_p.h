// TTextParser: the tokenizer of the textual component format, the text in
// which a component is saved with its published properties:
//
//   object OPCServer1: TqOPCServer
//     ServerName = 'Veze6.Simulation.1'
//     OPCGroups = <
//       item
//         Name = 'Boiler'
//       end>
//   end
//
// Tokens are identifiers, numbers (decimal, '$' hex, decimal fractions and
// exponents), texts ('quoted' parts with '' for a quote, #n character codes)
// and single-character symbols. Blanks are every byte from 1 to 32; a zero
// byte ends the text, as in the files the format comes from. Lines end with
// LF (CR is a blank). Errors raise EParserError naming the line and column
// (characters, counted from 1) and, when the reader set one, the property
// path being read.
#pragma once

#include <QByteArrayView>
#include <QString>

/// A place in the text: line and column, both counted from 1; the column
/// counts characters, not bytes.
struct TTextPos {
  int line = 1;
  int column = 1;
};

class TTextParser {
 public:
  enum TokenKind { EndOfText, Symbol, Identifier, Integer, Float, String };

  /// Longest identifier, in bytes.
  static constexpr qsizetype kMaxIdentifier = 255;
  /// Longest number, in bytes.
  static constexpr qsizetype kMaxNumber = 512;

  /// text is not copied and must outlive the parser. One text token holds at
  /// most maxString bytes and character codes; a longer one raises
  /// EReadError. truncated says that text was cut at the reader's size
  /// limit: reaching its end then raises EReadError instead of a parser
  /// error. Reads the first token.
  TTextParser(QByteArrayView text, qsizetype maxString, bool truncated = false);

  /// Moves to the next token.
  void NextToken();

  TokenKind Token() const { return token_; }
  /// Where the current token starts.
  TTextPos TokenPos() const { return tokenPos_; }
  /// Byte offset of the current token's start.
  qsizetype TokenOffset() const { return tokenStart_; }
  /// Byte offset just after the current token.
  qsizetype TokenEnd() const { return pos_; }
  /// The current symbol character (Symbol tokens).
  char TokenSymbol() const { return token_ == Symbol ? text_[tokenStart_] : '\0'; }
  /// The bytes of an identifier or number token as written (a number
  /// without a type suffix).
  QByteArrayView TokenText() const { return tokenText_; }
  /// The decoded text of a String token.
  const QString& TokenString() const { return string_; }
  /// True for an Integer written in '$' hexadecimal form.
  bool TokenIsHex() const { return hex_; }

  bool TokenSymbolIs(char c) const { return token_ == Symbol && TokenSymbol() == c; }
  /// True for an identifier equal to word in any letter case.
  bool TokenIdentIs(QByteArrayView word) const;
  /// The current token as a message shows it: "'='", "'Name'", "end of text".
  QString TokenDescription() const;

  /// Byte offset after the current token and the blanks that follow it,
  /// without reading further tokens.
  qsizetype OffsetAfterTokenAndBlanks() const;

  /// The property path error messages name (not copied; may be null).
  void SetContext(const QString* path) { context_ = path; }
  /// Raises EParserError at the current token: "line L, column C: path: message".
  [[noreturn]] void Error(const QString& message) const;
  /// Raises EParserError "'x' expected but ... found".
  [[noreturn]] void Expected(const QString& what) const;
  /// The standard form of messages: "line L, column C: path: message", the
  /// path left out when empty.
  static QString Located(TTextPos pos, const QString& path, const QString& message);

 private:
  bool atEnd() const;
  unsigned char peek(qsizetype ahead = 0) const;
  void advance();
  void skipBlanks();
  void readIdentifier();
  void readNumber();
  void readHex();
  void readString();
  void checkNoIdentifierAfter();
  [[noreturn]] void errorHere(const QString& message) const;
  [[noreturn]] void limitError(const QString& message) const;

  QByteArrayView text_;
  qsizetype maxString_;
  bool truncated_;
  qsizetype pos_ = 0;
  TTextPos cur_;
  TokenKind token_ = EndOfText;
  qsizetype tokenStart_ = 0;
  TTextPos tokenPos_;
  QByteArrayView tokenText_;
  QString string_;
  bool hex_ = false;
  const QString* context_ = nullptr;
};
