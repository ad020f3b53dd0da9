// qopc browse: walks a server's address space (or lists it flat) with the
// browser's name, data type and access-rights filters.
#include <QMetaEnum>

#include "connection.h"
#include "output.h"

namespace qopc {

namespace {

// "R8", "vtR8" or the type code; false for anything else.
bool parseDatatype(const QString& text, OPCADatatype& type) {
  bool isNumber = false;
  const int code = text.toInt(&isNumber);
  const QMetaEnum types = QMetaEnum::fromType<OPCADatatype>();
  if (isNumber) {
    if (!types.valueToKey(code)) return false;
    type = OPCADatatype(code);
    return true;
  }
  for (int i = 0; i < types.keyCount(); ++i) {
    const QString key = QString::fromLatin1(types.key(i));
    if (key.compare(text, Qt::CaseInsensitive) == 0 ||
        key.mid(2).compare(text, Qt::CaseInsensitive) == 0) {
      type = OPCADatatype(types.value(i));
      return true;
    }
  }
  return false;
}

bool parseRights(const QString& text, OPCAcesstype& rights) {
  const QString t = text.toLower();
  if (t == QLatin1String("r"))
    rights = opcReadable;
  else if (t == QLatin1String("w"))
    rights = opcWritable;
  else if (t == QLatin1String("rw") || t == QLatin1String("wr"))
    rights = opcReadable | opcWritable;
  else
    return false;
  return true;
}

struct Filters {
  QString name;
  OPCADatatype type = vtEMPTY;
  OPCAcesstype rights;
  bool any() const { return !name.isEmpty() || type != vtEMPTY || rights; }
};

// The lines of the tree below the browser's position: branches (with "/")
// and then leaves with their item ids, indented by depth. Branch names are
// not filtered; with filters set, a branch without a matching item below it
// is left out.
QStringList walk(TqOPCBrowser& browser, const Filters& filters, int depth) {
  const QString indent(2 * depth, QLatin1Char(' '));
  browser.SetFilter(QString());
  browser.SetDatatype(vtEMPTY);
  browser.SetAccessRights({});
  browser.ShowBranches();
  const QStringList branches = browser.Tags();

  QStringList lines;
  for (const QString& branch : branches) {
    if (!browser.MoveDown(branch)) {
      lines << indent + branch + QStringLiteral("/  (cannot enter)");
      continue;
    }
    const QStringList below = walk(browser, filters, depth + 1);
    browser.Moveup();
    if (filters.any() && below.isEmpty()) continue;
    lines << indent + branch + QLatin1Char('/');
    lines << below;
  }

  browser.SetFilter(filters.name);
  browser.SetDatatype(filters.type);
  browser.SetAccessRights(filters.rights);
  browser.ShowLeafs(false);
  const QStringList leaves = browser.Tags();
  for (const QString& leaf : leaves)
    lines << indent + leaf + QStringLiteral("  [") + browser.GetItemId(leaf) + QLatin1Char(']');
  return lines;
}

}  // namespace

int browseCommand(const QStringList& args, Io io) {
  QCommandLineParser parser;
  parser.setApplicationDescription(Text::tr(
      "Connects to a server and walks its address space: branches end in '/', leaves show "
      "their item ids. With --flat (or on a flat server) every item id is listed instead."));
  addServerOptions(parser);
  parser.addOption({"flat", Text::tr("List every item id (below --branch) instead of the tree.")});
  parser.addOption({"filter", Text::tr("OPC name filter for items (*, ?, #, [...])."), "F"});
  parser.addOption({"type",
                    Text::tr("Only items that read as this data type (R8, I4, BSTR... or a code)."),
                    "T"});
  parser.addOption(
      {"rights", Text::tr("Only items with these access rights: r, w or rw."), "r|w|rw"});
  parser.addOption({"branch", Text::tr("Start at this dotted branch path."), "PATH"});
  addFormatOption(parser);
  if (int rc = parseArguments(parser, "browse", args, io); rc >= 0) return rc;
  Format format = Format::Text;
  if (!formatOf(parser, "browse", io, format)) return kUsage;

  Filters filters;
  filters.name = parser.value("filter");
  if (parser.isSet("type") && !parseDatatype(parser.value("type"), filters.type)) {
    io.err << "qopc browse: " << Text::tr("unknown data type '%1'").arg(parser.value("type"))
           << "\n";
    return kUsage;
  }
  if (parser.isSet("rights") && !parseRights(parser.value("rights"), filters.rights)) {
    io.err << "qopc browse: "
           << Text::tr("--rights takes r, w or rw, not '%1'").arg(parser.value("rights")) << "\n";
    return kUsage;
  }

  auto server = makeServer(parser);
  if (!connectServer(*server, io)) return kFailed;
  TqOPCBrowser& browser = *server->Browser();
  try {
    const bool flatSpace = browser.GetOrganization() == OPC_NS_FLAT;
    if (parser.isSet("branch")) {
      const QString path = parser.value("branch");
      if (flatSpace) {
        io.err << "qopc browse: "
               << Text::tr("the server's address space is flat; it has no branch '%1'").arg(path)
               << "\n";
        return kFailed;
      }
      if (!browser.Moveto(path)) {
        io.err << "qopc browse: " << Text::tr("no branch '%1'").arg(path) << "\n";
        return kFailed;
      }
    }
    QStringList lines;
    if (format != Format::Text) {
      // Records: every item id below the start, whatever the space's shape.
      browser.SetFilter(filters.name);
      browser.SetDatatype(filters.type);
      browser.SetAccessRights(filters.rights);
      browser.ShowLeafs(true);
      RecordWriter out(io.out, format, {"item"});
      for (const QString& id : browser.Tags()) out.add({id});
    } else if (flatSpace || parser.isSet("flat")) {
      browser.SetFilter(filters.name);
      browser.SetDatatype(filters.type);
      browser.SetAccessRights(filters.rights);
      browser.ShowLeafs(true);
      lines = browser.Tags();
    } else {
      lines = walk(browser, filters, 0);
    }
    for (const QString& line : lines) io.out << line << "\n";
  } catch (const Exception& e) {
    io.err << "qopc browse: " << e.Message() << "\n";
    return kFailed;
  }
  server->SetActive(false);
  return kOk;
}

}  // namespace qopc
