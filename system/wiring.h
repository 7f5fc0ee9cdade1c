// The wiring of the layers: the lower layers reach what lives above them
// (the scan loop's sliced pass, the control program's services, the actions of
// system registers, the IEC variables of the register gate) only through
// hooks, and this is the one place that sets them all.
#pragma once

// Sets every hook. Called at the start of the start-up, and by test fixtures
// after their resets.
void System_Wire();
