#pragma once

#include <QString>

class mainForm;

// Saves a picture of the window once it shows the pump as connected (at the latest after a time
// limit), prints where it went and ends the program; without a pump the exit code says so.
void takeScreenshotWhenConnected(mainForm& window, const QString& path);
