// Horizontal zero reference: measure from a chosen point, typically the open end of a cable.
#pragma once

// Text background of the window fields while a zero reference is active, and without one.
constexpr int kZeroActiveColor = (233 << 16) | (233 << 8) | 113;
constexpr int kZeroClearColor = (255 << 16) | (255 << 8) | 255;

// x >= 0 sets that reference; a negative x asks the user, then finds the open end in a fresh
// acquisition. Returns 1, or 0 when the user declined (nothing changed).
int setZero(double x);
