// The simulation server in one include.
#pragma once

#include "addressspace.h"
#include "errortexts.h"
#include "registration.h"
#include "simclock.h"
#include "simgroup.h"
#include "simulationcontrol.h"
#include "simulationserver.h"
