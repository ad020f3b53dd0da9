// qopc items: connect, add a group with the given items (or only validate
// them) in one batch, and print each item's result.
#include <QMetaEnum>

#include "connection.h"
#include "output.h"

namespace qopc {

namespace {

// The canonical type as its OPCADatatype name; arrays get "[]".
QString datatypeName(int vt) {
  const int base = vt & ~int(VT_ARRAY);
  const char* key = QMetaEnum::fromType<qOPC::OPCADatatype>().valueToKey(base);
  const QString name =
      key ? QString::fromLatin1(key) : QStringLiteral("0x%1").arg(base, 4, 16, QChar(u'0'));
  return (vt & VT_ARRAY) ? name + QStringLiteral("[]") : name;
}

QString rightsText(DWORD rights) {
  const bool read = rights & OPC_READABLE;
  const bool write = rights & OPC_WRITEABLE;
  if (read && write) return QStringLiteral("read/write");
  if (read) return QStringLiteral("read");
  return write ? QStringLiteral("write") : QStringLiteral("none");
}

}  // namespace

int itemsCommand(const QStringList& args, Io io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(Text::tr(
      "Connects, adds a group with the items in one batch (or only validates them) and prints\n"
      "each item's server handle, canonical type and access rights, or its error.\n"
      "Exits with 1 when any item failed."));
  addServerOptions(parser);
  parser.addOption({"group", Text::tr("The group's name."), "NAME", "qopc"});
  parser.addOption({"rate", Text::tr("The group's requested update rate."), "MS", "1000"});
  parser.addOption({"path", Text::tr("The items' access path."), "PATH"});
  parser.addOption({"validate", Text::tr("Validate the items instead of adding them.")});
  addFormatOption(parser);
  parser.addPositionalArgument("itemid", Text::tr("The ids of the items."), "ITEMID...");
  if (int rc = parseArguments(parser, "items", args, io); rc >= 0) return rc;
  Format format = Format::Text;
  if (!formatOf(parser, "items", io, format)) return kUsage;

  const QStringList ids = parser.positionalArguments();
  bool rateOk = false;
  const int rate = parser.value("rate").toInt(&rateOk);
  if (ids.isEmpty() || !rateOk || rate < 0 || parser.value("group").trimmed().isEmpty()) {
    io.err << "qopc items: "
           << (ids.isEmpty()         ? Text::tr("no item ids given")
               : !rateOk || rate < 0 ? Text::tr("the update rate must be a number of milliseconds")
                                     : Text::tr("the group name must not be blank"))
           << "\n";
    return kUsage;
  }
  const bool validate = parser.isSet("validate");

  auto server = makeServer(parser);
  server->OPCGroupDefault()->UpdateRate = rate;
  if (!connectServer(*server, io)) return kFailed;
  bool failed = false;
  try {
    TqOPCGroup* group = server->OPCGroups()->Add(parser.value("group"));
    group->DefaultItem()->AccessPath = parser.value("path");
    // The items are made locally and go to the server in one call.
    server->SetBatchMode(true);
    TqOPCItems* items = group->OPCItems();
    TqOPCItemList list;
    for (const QString& id : ids) list.Add(items->AddItem(id));
    if (validate)
      items->OPCValidateItems(list);
    else
      items->OPCAddItems(list, true);

    if (format != Format::Text) {
      RecordWriter out(
          io.out, format,
          {"item", "group", "update_rate", "server_handle", "type", "access", "error"});
      for (int i = 0; i < list.Count(); ++i) {
        const TqOPCItem* item = list.Items(i);
        const bool ok = item->LastError() == S_OK;
        failed |= !ok;
        out.add({item->ItemID(), group->Name(), qint64(group->UpdateRate()),
                 ok && !validate ? QVariant(qint64(item->ServerHandle())) : QVariant(),
                 ok ? QVariant(datatypeName(item->CanonicalDatatype())) : QVariant(),
                 ok ? QVariant(rightsText(item->AccessRights())) : QVariant(),
                 ok ? QVariant() : QVariant(item->GetLastErrorStr().trimmed())});
      }
      server->SetActive(false);
      return failed ? kFailed : kOk;
    }
    io.out << "Group " << group->Name() << ": update rate " << group->UpdateRate() << " ms\n";
    const int width = idColumnWidth(ids);
    for (int i = 0; i < list.Count(); ++i) {
      const TqOPCItem* item = list.Items(i);
      io.out << item->ItemID().leftJustified(width) << "  ";
      if (item->LastError() != S_OK) {
        failed = true;
        io.out << itemErrorText(item) << "\n";
        continue;
      }
      const QString state = validate ? QStringLiteral("valid")
                                     : QStringLiteral("handle %1").arg(item->ServerHandle());
      io.out << state.leftJustified(12) << "  "
             << datatypeName(item->CanonicalDatatype()).leftJustified(10) << "  "
             << rightsText(item->AccessRights()) << "\n";
    }
  } catch (const Exception& e) {
    io.err << "qopc: " << e.Message() << "\n";
    return kFailed;
  }
  server->SetActive(false);
  return failed ? kFailed : kOk;
}

}  // namespace qopc
