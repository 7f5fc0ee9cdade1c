// Screen objects.
#pragma once

void KEY_SlideInit();
