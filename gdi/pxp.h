// Pixel pipeline.
#pragma once

void PXP_WaitUpdate();
