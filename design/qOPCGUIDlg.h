// Unit qOPCGUIDlg: the control selection form ("OPC to GUI") with its entry
// routine qGUISelectControls, and the per-user memory of default property
// names per control class that the form offers and keeps.
#pragma once

#include "binding/guidefaultpropname.h"
#include "tqguiselectform.h"
