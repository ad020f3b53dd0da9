// Unit qOPCGUI: item values written into Qt widget properties.
#pragma once

#include "guipropwrite.h"
#include "guisetprocs.h"
#include "tguiregcontrol.h"
#include "findqopcitem.h"
#include "tqguiitem.h"
#include "tqguiitems.h"
#include "tqopcgui.h"
