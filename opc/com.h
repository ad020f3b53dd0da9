// The whole COM-style platform layer in one include.
#pragma once

#include "apartment.h"
#include "classregistry.h"
#include "comtypes.h"
#include "connectionpoint.h"
#include "diag.h"
#include "enumerator.h"
#include "filetime.h"
#include "objidl.h"
#include "sinklist.h"
#include "syserror.h"
#include "taskmem.h"
#include "unknown.h"
#include "variant.h"
