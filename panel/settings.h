// Settings that live in the panel controls, with their accessor pairs; -1 means "take the
// control's value and apply the side effects".
#pragma once

#include "setup/setup.h"

#include <cstddef>
#include <string>

int getAutoAcquire();
int setAutoAcquire(int v);
int getAutoscale();
int setAutoscale(int v);
int getAveraging();
int setAveraging(int v);
int getColor();
double getDiel();
int setDiel(double x);
int getDiff();
int setDiff(int v);
int getFilter();
int setFilter(int v);
int getFilterWidth();
int setFilterWidth(int v);
int getLED();
int setLED(int v);
Mode getMode();
double getXStart();
double getXEnd();
int setXStart(double x);
int setXEnd(double x);
int setWindow();
double getYMin();
double getYMax();
int setYMinMax(double lo, double hi);
int getStimulus();
int getSampler();
// The set-up as the controls and menus hold it now.
Setup readSetup();
// The panel's serial text cut to the buffer a format gives it (at most n bytes).
std::string serialText(std::size_t n);
