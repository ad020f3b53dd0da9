// Unit qOPCPropEdit: the OPC Inspector window and its entry routine
// OPCExplorer.
#pragma once

#include "tqopcdlgexplorer.h"
