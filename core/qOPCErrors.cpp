#include "qOPCErrors.h"

#include <iterator>

namespace {

struct CodeText {
  quint32 code;
  const char* text;
};

// English only: the texts do not depend on the locale. CR LF where a text
// keeps its line break.
constexpr CodeText kTexts[] = {
    {0x0004000D,
     "The server does not support the requested data rate\r\nbut will use the closest available "
     "rate."},
    {0x0004000E, "A value passed to WRITE was accepted but the output was clamped."},
    {0x0004000F,
     "The operation cannot be completed because the\r\nobject still has references that exist."},
    {0x00040200, "The condition has already been acknowleged"},
    {0x00040201, "The buffer time parameter was invalid"},
    {0x00040202, "The max size parameter was invalid"},
    {0xC0040001, "The value of the handle is invalid."},
    {0xC0040004,
     "The server cannot convert the data between the\r\nrequested data type and the canonical "
     "data"},
    {0xC0040005, "The requested operation cannot be done on a public group."},
    {0xC0040006, "The Items AccessRights do not allow the operation."},
    {0xC0040007, "The item is no longer available in the server address space."},
    {0xC0040008, "The item definition doesn't conform to the server's syntax."},
    {0xC0040009, "The filter string was not valid"},
    {0xC004000A, "The item's access path is not known to the server."},
    {0xC004000B, "The value was out of range."},
    {0xC004000C, "Duplicate name not allowed."},
    {0xC0040010, "The server's configuration file is an invalid format."},
    {0xC0040011, "The server could not locate the requested object."},
    {0xC0040203, "The server does not recognise the passed property ID."},
    {0xC0040204, "A refresh is currently in progress"},
    {0xC0040205, "A refresh is currently in progress"},
    {0xC0040206, "Information is not available"},
};
static_assert(std::size(kTexts) == 22);

}  // namespace

QString GetOPCErrorMessage(HRESULT code) {
  for (const CodeText& entry : kTexts)
    if (entry.code == static_cast<quint32>(code)) return QString::fromLatin1(entry.text);
  return {};
}

void OPCCheck(HRESULT code) {
  if (SUCCEEDED(code)) return;
  const QString text = GetOPCErrorMessage(code);
  if (text.isEmpty()) OleError(code);
  throw EOPCException(text);
}
