// Unit qOPCServerDlg: the server browse dialog and its entry routine
// qopcBrowseServer.
#pragma once

#include "tqopcserverbrowsedlg.h"
