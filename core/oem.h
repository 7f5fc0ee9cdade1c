// Sign-on and model texts.
#pragma once
#include <cstdint>

int Oem_GetSignon(char *text, int family, int model);
int Oem_GetModel(char *text, int family, int model);
