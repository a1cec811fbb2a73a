#pragma once

#include <QtGlobal>

// The capture worker: a second process of this program that reads each clipboard change and
// hands the clip to the window's process, so that only it waits for an owner, however that
// misbehaves. Runs until the window's process goes away; generation counts the workers it
// started, window is its client id.
int runCaptureWorker(int &argc, char **argv, unsigned generation, quint64 window);
