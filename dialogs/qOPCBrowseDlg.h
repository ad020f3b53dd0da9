// Unit qOPCBrowseDlg: the item browse dialog and its entry routines
// OPCBrowseDialog and OPCBrowseItemDialog.
#pragma once

#include "tqopcdlgbrowse.h"
