// Sign-on and model texts chosen by the unit's OEM identity.
#pragma once
#include <cstdint>

// Writes the sign-on text (zero-terminated, at most 20 characters) and
// returns its length.
int Oem_GetSignon(char *text, int family, int model);
// Writes at most 10 characters of the model name, zero-terminated when shorter.
int Oem_GetModel(char *text, int family, int model);
