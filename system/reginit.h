// The register image's start-up values.
#pragma once

// Sets the image for a start: `clear` clears it whole (a fresh image),
// otherwise only its temporary areas; then the identity, the clock and the
// system bits.
void PlcRegInit(int clear);
// Clears the image (an IEC application keeps its registers and loses its
// retained data instead).
void PlcRegClear();
