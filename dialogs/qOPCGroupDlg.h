// Unit qOPCGroupDlg: the group edit dialog and its entry routine
// OPCEditGroupDialog.
#pragma once

#include "tqopcdlgeditgroup.h"
