#include "OPCDA.h"

// Registered when the library is loaded, so that every stream a DA 1.0 server
// sends can be matched by its format id.
const UINT OPCSTMFORMATDATA = RegisterClipboardFormat("OPCSTMFORMATDATA");
const UINT OPCSTMFORMATDATATIME = RegisterClipboardFormat("OPCSTMFORMATDATATIME");
const UINT OPCSTMFORMATWRITECOMPLETE = RegisterClipboardFormat("OPCSTMFORMATWRITECOMPLETE");
