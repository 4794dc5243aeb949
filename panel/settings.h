// Settings that live in the panel controls, with their accessor pairs; -1 means "take the
// control's value and apply the side effects".
#pragma once

#include "setup/setup.h"

#include <cstddef>
#include <string>

int getAutoAcquire();
void setAutoAcquire(int v);
int getAutoscale();
void setAutoscale(int v);
int getAveraging();
void setAveraging(int v);
int getColor();
double getDiel();
void setDiel(double x);
int getDiff();
void setDiff(int v);
int getFilter();
void setFilter(int v);
int getFilterWidth();
void setFilterWidth(int v);
int getLED();
void setLED(int v);
Mode getMode();
double getXStart();
double getXEnd();
void setXStart(double x);
void setXEnd(double x);
void setWindow();
double getYMin();
double getYMax();
void setYMinMax(double lo, double hi);
int getStimulus();
int getSampler();
// The set-up as the controls and menus hold it now.
Setup readSetup();
// The panel's serial text cut to the buffer a format gives it (at most n bytes).
std::string serialText(std::size_t n);
