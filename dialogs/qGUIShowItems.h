// Unit qGUIShowItems: the binding item selection dialog and its entry
// routine qGUISelectOPCItem.
#pragma once

#include "tqguiitemdlg.h"
