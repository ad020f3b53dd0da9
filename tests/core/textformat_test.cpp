// The textual component format on its own: a component with property types
// the server component does not use yet (saved and read without touching
// the writer or reader), value forms both ways, setter failures, and the
// reader's limits.
#include <QBuffer>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "core/componentreader.h"
#include "core/componentwriter.h"
#include "test_utils.h"

using namespace core_test;

namespace {

using TextFormatTest = veze6::test::LeakCheckedTest;

/// thrownMessage as std::string, so that failures print readably.
template <class F>
std::string failure(F&& f, QString* className = nullptr) {
  return thrownMessage(std::forward<F>(f), className).toStdString();
}

class TTestEntry : public TCollectionItem {
  Q_OBJECT
  Q_PROPERTY(QString Label MEMBER Label)
  Q_PROPERTY(qint64 Big MEMBER Big)

 public:
  using TCollectionItem::TCollectionItem;
  QString Label = "new";
  qint64 Big = 0;
};

class TTestEntries : public TCollection {
  Q_OBJECT

 public:
  using TCollection::TCollection;
  ~TTestEntries() override { ClearInDestructor(); }

 protected:
  std::unique_ptr<TCollectionItem> CreateItem() override {
    return std::make_unique<TTestEntry>(this);
  }
};

class TTestNested : public TPersistent {
  Q_OBJECT
  Q_PROPERTY(double Ratio MEMBER Ratio)
  Q_PROPERTY(TTestEntries* Entries READ Entries CONSTANT)

 public:
  TTestEntries* Entries() const { return entries_.get(); }
  double Ratio = 0;

 private:
  std::unique_ptr<TTestEntries> entries_ = std::make_unique<TTestEntries>(this);
};

class TTestComponent : public TComponent {
  Q_OBJECT
  Q_PROPERTY(quint32 Mask MEMBER Mask)
  Q_PROPERTY(qint64 Big MEMBER Big)
  Q_PROPERTY(short Small MEMBER Small)
  Q_PROPERTY(Shape Form MEMBER Form)
  Q_PROPERTY(Options Flags READ GetFlags WRITE SetFlags)
  Q_PROPERTY(TTestNested* Nested READ Nested CONSTANT)
  Q_PROPERTY(QString Checked READ Checked WRITE SetChecked)
  Q_PROPERTY(QString Fixed READ Fixed)
  Q_PROPERTY(QString Hidden MEMBER Hidden STORED false)

 public:
  enum Shape : int { Square, Circle };
  Q_ENUM(Shape)
  enum Option { Bold = 1, Italic = 2, Underline = 4 };
  Q_DECLARE_FLAGS(Options, Option)
  Q_FLAG(Options)

  using TComponent::TComponent;
  TTestNested* Nested() const { return nested_.get(); }
  QString Checked() const { return checked_; }
  void SetChecked(const QString& value) {
    if (value == "bad") throw EConvertError("'bad' is not allowed");
    checked_ = value;
  }
  QString Fixed() const { return "fixed"; }
  Options GetFlags() const { return Flags; }
  void SetFlags(Options value) { Flags = value; }

  quint32 Mask = 0;
  qint64 Big = 0;
  short Small = 0;
  Shape Form = Square;
  Options Flags;
  QString Hidden;

 private:
  std::unique_ptr<TTestNested> nested_ = std::make_unique<TTestNested>();
  QString checked_;
};

void read(TComponent& root, const QByteArray& text,
          const TComponentReader::Limits& limits = TComponentReader::Limits()) {
  TComponentReader(text, limits).Read(root);
}

/// The value a text gives the server component's ClientName.
QString readText(const QByteArray& value) {
  TqOPCServer server;
  read(server, "object S: TqOPCServer\n  ClientName = " + value + "\nend\n");
  return server.ClientName();
}

TEST_F(TextFormatTest, NewPropertyTypesSaveAndReadWithoutExtraCode) {
  TTestComponent c;
  c.SetName("Probe");
  c.Mask = 0xFFFFFFFFu;
  c.Big = std::numeric_limits<qint64>::min();
  c.Small = -32768;
  c.Form = TTestComponent::Circle;
  c.Flags = TTestComponent::Options(TTestComponent::Bold) | TTestComponent::Underline;
  c.Hidden = "never saved";
  c.Nested()->Ratio = 0.1;
  c.Nested()->Entries()->Add();
  static_cast<TTestEntry*>(c.Nested()->Entries()->Add())->Big = 1LL << 40;
  c.SetChecked("ok");

  const QByteArray text = ComponentToText(c);
  EXPECT_EQ(text,
            "object Probe: TTestComponent\r\n"
            "  Mask = 4294967295\r\n"
            "  Big = -9223372036854775808\r\n"
            "  Small = -32768\r\n"
            "  Form = Circle\r\n"
            "  Flags = [Bold, Underline]\r\n"
            "  Nested.Ratio = 0.1\r\n"
            "  Nested.Entries = <\r\n"
            "    item\r\n"
            "      Label = 'new'\r\n"
            "      Big = 0\r\n"
            "    end\r\n"
            "    item\r\n"
            "      Label = 'new'\r\n"
            "      Big = 1099511627776\r\n"
            "    end>\r\n"
            "  Checked = 'ok'\r\n"
            "end\r\n");

  TTestComponent copy;
  read(copy, text);
  EXPECT_EQ(copy.Mask, 0xFFFFFFFFu);
  EXPECT_EQ(copy.Big, std::numeric_limits<qint64>::min());
  EXPECT_EQ(copy.Form, TTestComponent::Circle);
  EXPECT_EQ(copy.Flags, c.Flags);
  EXPECT_EQ(copy.Nested()->Ratio, 0.1);
  EXPECT_EQ(copy.Nested()->Entries()->Count(), 2);
  EXPECT_EQ(ComponentToText(copy), text);

  read(copy,
       "object X: TTestComponent\n  flags = []\n  nested.entries = <item label = 'a' end>\nend");
  EXPECT_EQ(copy.Flags, TTestComponent::Options());
  ASSERT_EQ(copy.Nested()->Entries()->Count(), 1);
  EXPECT_EQ(static_cast<TTestEntry*>(copy.Nested()->Entries()->Items(0))->Label, "a");
}

TEST_F(TextFormatTest, IntegerForms) {
  TTestComponent c;
  auto value = [&](const char* property, const char* text) {
    read(c, QByteArray("object X: TTestComponent\n  ") + property + " = " + text + "\nend\n");
  };
  value("Mask", "$FFFFFFFF");
  EXPECT_EQ(c.Mask, 0xFFFFFFFFu);
  value("Small", "$FFFF");
  EXPECT_EQ(c.Small, -1) << "hexadecimal is the bit pattern";
  value("Big", "$8000000000000000");
  EXPECT_EQ(c.Big, std::numeric_limits<qint64>::min());
  value("Form", "1");
  EXPECT_EQ(c.Form, TTestComponent::Circle) << "the number of a named value";
  EXPECT_THROW(value("Form", "2"), EReadError) << "a number without a name";
  c.Form = TTestComponent::Shape(2);
  QString cls;
  EXPECT_EQ(failure([&] { ComponentToText(c); }, &cls), "Form: the value 2 has no name in Shape");
  EXPECT_EQ(cls, "EFilerError");
  c.Form = TTestComponent::Square;

  TqOPCServer server;
  auto delay = [&](const char* text) {
    read(server, QByteArray("object S: TqOPCServer\n  ConnectDelay = ") + text + "\nend\n");
    return server.ConnectDelay();
  };
  EXPECT_EQ(delay("-2147483648"), std::numeric_limits<qint32>::min());
  EXPECT_EQ(delay("$FFFFFFFF"), -1);
  EXPECT_EQ(delay("$7fffffff"), std::numeric_limits<qint32>::max());
  for (const char* bad : {"2147483648", "$100000000", "99999999999999999999", "1.5", "'1'", "True"})
    EXPECT_THROW(delay(bad), EReadError) << bad;
  for (const char* bad : {"Small = 32768", "Mask = -1", "Form = Triangle", "Flags = [Bold, Thin]",
                          "Flags = Bold", "Big = 1E3"})
    EXPECT_THROW(read(c, QByteArray("object X: TTestComponent\n  ") + bad + "\nend\n"), EReadError)
        << bad;
}

TEST_F(TextFormatTest, FloatsAreWrittenShortestAndReadBackExactly) {
  EXPECT_EQ(FloatToComponentText(0.5f), "0.5");
  EXPECT_EQ(FloatToComponentText(1.25f), "1.25");
  EXPECT_EQ(FloatToComponentText(10.0f), "10");
  EXPECT_EQ(FloatToComponentText(0.1f), "0.1");
  EXPECT_EQ(FloatToComponentText(-2.75f), "-2.75");
  EXPECT_EQ(FloatToComponentText(1e-5f), "1E-5");
  EXPECT_EQ(FloatToComponentText(3e20f), "3E20");
  EXPECT_EQ(FloatToComponentText(0.1), "0.1");

  TqOPCServer server;
  auto roundTrip = [&](float value) {
    server.OPCGroupDefault()->DeadBand = value;
    const QByteArray text = ComponentToText(server);
    server.OPCGroupDefault()->DeadBand = 0;
    read(server, text);
    return server.OPCGroupDefault()->DeadBand;
  };
  std::vector<float> values = {std::numeric_limits<float>::max(),
                               std::numeric_limits<float>::lowest(),
                               std::numeric_limits<float>::min(),
                               std::numeric_limits<float>::denorm_min(),
                               1.0f / 3.0f,
                               16777217.0f,
                               -0.001f};
  std::mt19937 random(6);
  while (values.size() < 400) {
    const std::uint32_t bits = random();
    float f;
    std::memcpy(&f, &bits, sizeof f);
    if (std::isfinite(f) && f != 0) values.push_back(f);
  }
  for (float v : values) EXPECT_EQ(roundTrip(v), v) << FloatToComponentText(v).constData();

  auto deadBand = [&](const char* text) {
    read(server,
         QByteArray("object S: TqOPCServer\n  OPCGroupDefault.DeadBand = ") + text + "\nend\n");
    return server.OPCGroupDefault()->DeadBand;
  };
  EXPECT_EQ(deadBand("1.25"), 1.25f);
  EXPECT_EQ(deadBand(" 1.25000000000000000000E+0000"), 1.25f);
  EXPECT_EQ(deadBand("5E-1"), 0.5f);
  EXPECT_EQ(deadBand("5e-1"), 0.5f);
  EXPECT_EQ(deadBand("12"), 12.0f);
  EXPECT_EQ(deadBand("-7.5"), -7.5f);
  EXPECT_EQ(deadBand("2.5s"), 2.5f) << "the platform's type suffix";
  for (const char* bad : {"1E39", "1E400", "'1'", "True"})
    EXPECT_THROW(deadBand(bad), EReadError) << bad;
}

TEST_F(TextFormatTest, TextsAreQuotedAndReadBack) {
  const struct {
    QString text;
    QByteArray written;
  } cases[] = {
      {"", "''"},
      {"plain", "'plain'"},
      {"it's", "'it''s'"},
      {"'", "''''"},
      {"a\r\nb", "'a'#13#10'b'"},
      {"\t", "#9"},
      {QString(QChar(u'\0')) + "x", "#0'x'"},
      {QString::fromUtf8("Grüße € \xF0\x9F\x98\x80"), "'Grüße € \xF0\x9F\x98\x80'"},
      {QString(QChar(0xDC00)) + "a" + QChar(0xD800), "#56320'a'#55296"},
      {QString(QChar(0x7f)), "'\x7f'"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QuotedComponentText(c.text), c.written) << c.written.constData();
    EXPECT_EQ(readText(c.written), c.text) << c.written.constData();
  }

  // #n escapes: each UTF-8 byte, or each character (code point or UTF-16 unit).
  EXPECT_EQ(readText("#195#164"), QString::fromUtf8("ä"));
  EXPECT_EQ(readText("#228"), QString::fromUtf8("ä"));
  EXPECT_EQ(readText("'x'#228'y'"), QString::fromUtf8("xäy"));
  EXPECT_EQ(readText("#226#130#172"), QString::fromUtf8("€"));
  EXPECT_EQ(readText("#8364"), QString::fromUtf8("€"));
  EXPECT_EQ(readText("#$20AC"), QString::fromUtf8("€"));
  EXPECT_EQ(readText("#240#159#152#128"), QString::fromUtf8("\xF0\x9F\x98\x80"));
  EXPECT_EQ(readText("#55357#56832"), QString::fromUtf8("\xF0\x9F\x98\x80"));
  EXPECT_EQ(readText("#128512"), QString::fromUtf8("\xF0\x9F\x98\x80"));
  EXPECT_EQ(readText("'a' +\n\n   'b'+'c'#13"), "abc\r");
  EXPECT_EQ(readText("'K\xE4se'"), QString::fromUtf8("Käse")) << "8-bit text that is not UTF-8";
  EXPECT_THROW(readText("#1114112"), EParserError);
  EXPECT_THROW(readText("'a' + 5"), EParserError);
  EXPECT_THROW(readText("'a'\n'b'"), EParserError);
}

TEST_F(TextFormatTest, ReaderErrors) {
  TTestComponent c;
  auto error = [&](const QByteArray& body, QString* cls = nullptr) {
    return failure([&] { read(c, "object X: TTestComponent\n" + body + "end\n"); }, cls);
  };
  QString cls;
  EXPECT_EQ(error("  Checked = 'bad'\n", &cls), "line 2, column 13: Checked: 'bad' is not allowed")
      << "a setter's failure, located";
  EXPECT_EQ(cls, "EReadError");
  EXPECT_EQ(error("  Fixed = 'x'\n"), "line 2, column 3: Fixed: property Fixed is read-only");
  EXPECT_EQ(error("  Hidden = 'x'\n"), "") << "not stored, but read when present";
  EXPECT_EQ(c.Hidden, "x");
  EXPECT_EQ(error("  Nested = 1\n"), "line 2, column 12: Nested: invalid property value '1'");
  EXPECT_EQ(error("  Nested.Entries.Label = 'x'\n"),
            "line 2, column 3: Nested.Entries.Label: TTestEntries has no property Label");
  EXPECT_EQ(error("  Mask.Bits = 1\n"),
            "line 2, column 3: Mask.Bits: Mask is not an object with properties");
  EXPECT_EQ(error("  Nested = <>\n"), "line 2, column 3: Nested: Nested is not a collection");
  EXPECT_EQ(error("  Nested.Entries = <\n    item\n      Bad = 1\n    end>\n"),
            "line 4, column 7: Nested.Entries[0].Bad: TTestEntry has no property Bad");
  EXPECT_EQ(error("  Nested.Entries = < thing >\n", &cls),
            "line 2, column 22: Nested.Entries: 'item' or '>' expected but 'thing' found");
  EXPECT_EQ(cls, "EParserError");
  EXPECT_EQ(error("  object Child: TTestComponent\n  end\n", &cls),
            "line 2, column 3: nested components are not supported");
  EXPECT_EQ(cls, "EReadError");
  EXPECT_EQ(error("  Big = 12abc\n"), "line 2, column 9: Big: invalid number");
  EXPECT_EQ(error("  Big = - 1\n"), "line 2, column 9: Big: number expected after '-'");
  EXPECT_EQ(error("  Checked = \xC3\xA4\n"), "line 2, column 13: Checked: invalid character #195");
  EXPECT_EQ(error("  Flags = [Bold,]\n"), "line 2, column 17: Flags: name expected but ']' found");
  EXPECT_EQ(error("  Lines = ('a' 'b')\n"),
            "line 2, column 11: Lines: lists and binary values are not supported");
  EXPECT_FALSE(c.IsLoading());
}

TEST_F(TextFormatTest, ReaderLimits) {
  TqOPCServer server;
  TComponentReader::Limits limits;
  limits.maxItems = 3;
  limits.maxString = 8;
  limits.maxTextSize = 200;
  QString cls;
  EXPECT_EQ(
      failure(
          [&] {
            read(server,
                 "object S: TqOPCServer\n  OPCGroups = <item end item end item end item end>\nend",
                 limits);
          },
          &cls),
      "line 2, column 43: OPCGroups: more than 3 collection items");
  EXPECT_EQ(cls, "EReadError");
  EXPECT_EQ(server.GetGroupCount(), 0) << "limits are checked before anything is assigned";
  EXPECT_EQ(failure([&] {
              read(server, "object S: TqOPCServer\n  ClientName = '123456789'\nend", limits);
            }),
            "line 2, column 16: ClientName: text longer than 8 characters");
  EXPECT_EQ(failure([&] {
              read(server, "object S: TqOPCServer\n  ClientName = '1234' + '56789'\nend", limits);
            }),
            "line 2, column 25: ClientName: text longer than 8 characters");
  const QByteArray longText =
      "object S: TqOPCServer\n  ClientName = 'x'\nend\n" + QByteArray(300, ' ');
  EXPECT_NO_THROW(read(server, longText, limits)) << "an object that ends within the limit";
  EXPECT_THROW(read(server, "object S: TqOPCServer\n" + QByteArray(300, ' ') + "end\n", limits),
               EReadError);

  // Collections nested deeper than the limit, whatever they are called.
  QByteArray deep = "object S: TqOPCServer\n";
  for (int i = 0; i < 20; ++i) deep += "X = < item ";
  EXPECT_TRUE(
      thrownMessage([&] { read(server, deep); }).contains("collections nested deeper than 16"));

  QByteArray path = "object S: TqOPCServer\n  A";
  for (int i = 0; i < 40; ++i) path += ".A";
  EXPECT_TRUE(
      thrownMessage([&] { read(server, path + " = 1\nend"); }).contains("longer than 32 names"));
  EXPECT_THROW(read(server, "object S: TqOPCServer\n  " + QByteArray(256, 'a') + " = 1\nend"),
               EParserError);
}

TEST_F(TextFormatTest, HeaderNames) {
  TTestComponent c;
  c.SetName("not an identifier");
  EXPECT_TRUE(ComponentToText(c).startsWith("object TTestComponent\r\n"));
  c.SetName("_ok9");
  EXPECT_TRUE(ComponentToText(c).startsWith("object _ok9: TTestComponent\r\n"));
  TqOPCServer server;
  read(server, "object Renamed: SomeDerivedClass [3]\nend");
  EXPECT_EQ(server.Name(), "Renamed") << "the class name is not checked";
}

}  // namespace

#include "textformat_test.moc"
