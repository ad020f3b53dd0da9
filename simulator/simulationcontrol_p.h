// Internal to the simulator, not API: the process-wide side of the control
// interface (creation hooks, live server count).
#pragma once

#include "simulationcontrol.h"

namespace veze6::sim::detail {

void runCreationHooks(SimulationControl& control);
void serverCreated();
void serverDestroyed();

}  // namespace veze6::sim::detail
