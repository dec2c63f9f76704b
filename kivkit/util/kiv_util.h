// Small float helpers shared by the shell, the graphics layer and the GUI.
#pragma once

float myabs(float x);
float mymax(float a, float b); // equal values and NaN give b
float mymin(float a, float b); // equal values and NaN give b
int mysign(float x);           // zero and NaN give 0
int myround(float x);          // halves round away from zero

// Checked float to int: truncates toward zero, clamps to the int range and maps NaN to 0.
// Every float-to-int conversion of outside values (script numbers, file fields, sizes) goes through here.
int kiv_d2i(double d);

// Colour from a script number: the integer value cut to its low 32 bits (0xFFRRGGBB keeps RRGGBB);
// NaN and infinities give 0. Every colour argument goes through here.
unsigned kiv_d2color(double d);
