// The simulation server in one include.
#pragma once

#include "addressspace.h"
#include "datastream.h"
#include "errortexts.h"
#include "generators.h"
#include "opc/namefilter.h"
#include "registration.h"
#include "simclock.h"
#include "simgroup.h"
#include "simmodule.h"
#include "simproperties.h"
#include "simulationcontrol.h"
#include "simulationserver.h"
