#pragma once

#include <QString>
#include <QStringList>

class QTemporaryDir;

#include <vector>

// Shared pieces of the benchmark programs: a microsecond clock, order statistics and the rows of
// the results table that bench/run.sh collects (every line starting with "| ").
namespace Bench {

// Microseconds on the monotonic clock that the simulated pump uses too.
qint64 nowUs();

// Before a window is made: offscreen where there is no display, and the settings and data
// folders in home, away from the user's (the window reads and writes its settings).
void prepareWindow(const QTemporaryDir& home);

// Order statistics of a set of samples (all in the unit the samples had).
struct Summary
{
    int count = 0;
    double median = 0.0;
    double p95 = 0.0;
    double worst = 0.0;
    double best = 0.0;
    double mean = 0.0;
};
Summary summarise(std::vector<double> samples);

// One row of the results table: what was measured, the figure, the target and whether it is met.
void printRow(const QString& metric, const QString& figure, const QString& target, bool met);
// A row without a target (a figure reported for information).
void printInfoRow(const QString& metric, const QString& figure);
// A line of detail below the table rows (not collected into the table).
void printDetail(const QString& text);

// Milliseconds with the given number of decimals.
QString ms(double milliseconds, int decimals = 2);

// Value of "--name value" in the arguments, or the fallback.
int intOption(const QStringList& arguments, const QString& name, int fallback);
QString textOption(const QStringList& arguments, const QString& name, const QString& fallback = {});

} // namespace Bench
