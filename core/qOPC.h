// The client library: the server component with its groups and items, the
// address-space browser, item properties, server enumeration, the
// conversions and the library's message texts.
#pragma once

#include "application.h"
#include "coopcserver.h"
#include "exceptions.h"
#include "format.h"
#include "qOPCErrors.h"
#include "qopcconversions.h"
#include "qopcstrings.h"
#include "qopctypes.h"
#include "qtapartment.h"
#include "tdatetime.h"
#include "tqdefaultgroup.h"
#include "tqdefaultitem.h"
#include "tqopcbrowser.h"
#include "tqopcgroup.h"
#include "tqopcgroups.h"
#include "tqopcitem.h"
#include "tqopcitemlist.h"
#include "tqopcitemproperties.h"
#include "tqopcitemproperty.h"
#include "tqopcitems.h"
#include "tqopcserver.h"
#include "tqopcserverbrowser.h"
#include "tqopcserveritem.h"
