// qopc properties: the properties of one item with their current values.
#include <QMetaEnum>

#include "connection.h"
#include "output.h"

namespace qopc {

namespace {

// "I4", "ARRAY of R8"; the code for a type without a name.
QString typeName(qint32 type) {
  const QMetaEnum types = QMetaEnum::fromType<OPCADatatype>();
  const char* key = types.valueToKey(type & VT_TYPEMASK);
  QString name = key && type != vtundef ? QString::fromLatin1(key).mid(2)
                                        : QString::number(type & VT_TYPEMASK);
  if (type & VT_ARRAY) name.prepend(QStringLiteral("ARRAY of "));
  return name;
}

}  // namespace

int propertiesCommand(const QStringList& args, Io io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(Text::tr(
      "Connects to a server and lists the properties of an item: id, description, data type "
      "and current value."));
  addServerOptions(parser);
  addFormatOption(parser);
  parser.addPositionalArgument("ITEM", Text::tr("The item id."));
  if (int rc = parseArguments(parser, "properties", args, io); rc >= 0) return rc;
  Format format = Format::Text;
  if (!formatOf(parser, "properties", io, format)) return kUsage;
  if (parser.positionalArguments().size() != 1) {
    io.err << "qopc properties: " << Text::tr("give exactly one item id") << "\n";
    return kUsage;
  }
  const QString itemId = parser.positionalArguments().constFirst();

  auto server = makeServer(parser);
  if (!connectServer(*server, io)) return kFailed;
  if (!server->GetItemPropIF()) {
    io.err << "qopc properties: "
           << Text::tr("%1 offers no item properties").arg(server->ServerName()) << "\n";
    return kFailed;
  }
  try {
    TqOPCItemProperties properties(server.get(), itemId);
    if (format != Format::Text) {
      RecordWriter out(io.out, format, {"id", "description", "type", "value"});
      for (int i = 0; i < properties.Count(); ++i) {
        const TqOPCItemProperty* p = properties.GetItem(i);
        out.add(
            {qint64(p->PropertyID), p->Description, typeName(p->DataType), VarToAStr(p->Value)});
      }
    } else if (properties.Count() == 0) {
      io.out << "no properties for " << itemId << "\n";
    } else {
      int width = 11;
      for (int i = 0; i < properties.Count(); ++i)
        width = std::max(width, int(properties.GetItem(i)->Description.size()));
      io.out << QStringLiteral("Id").rightJustified(6) << "  "
             << QStringLiteral("Description").leftJustified(width + 2)
             << QStringLiteral("Type").leftJustified(14) << "Value\n";
      for (int i = 0; i < properties.Count(); ++i) {
        const TqOPCItemProperty* p = properties.GetItem(i);
        io.out << QString::number(p->PropertyID).rightJustified(6) << "  "
               << p->Description.leftJustified(width + 2) << typeName(p->DataType).leftJustified(14)
               << VarToAStr(p->Value) << "\n";
      }
    }
  } catch (const Exception& e) {
    io.err << "qopc properties: " << itemId << ": " << e.Message() << "\n";
    return kFailed;
  }
  server->SetActive(false);
  return kOk;
}

}  // namespace qopc
