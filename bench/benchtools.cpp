#include "benchtools.h"

#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numeric>

namespace Bench {

namespace {

void printLine(const QString& text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Nearest-rank percentile of sorted samples.
double percentile(const std::vector<double>& sorted, double fraction)
{
    const auto rank = std::size_t(std::ceil(fraction * double(sorted.size())));
    return sorted.at(std::clamp<std::size_t>(rank, 1, sorted.size()) - 1);
}

} // namespace

qint64 nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Summary summarise(std::vector<double> samples)
{
    Summary summary;
    if (samples.empty())
        return summary;
    std::sort(samples.begin(), samples.end());
    const std::size_t n = samples.size();
    summary.count = int(n);
    summary.median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2.0;
    summary.p95 = percentile(samples, 0.95);
    summary.best = samples.front();
    summary.worst = samples.back();
    summary.mean = std::accumulate(samples.begin(), samples.end(), 0.0) / double(n);
    return summary;
}

void printRow(const QString& metric, const QString& figure, const QString& target, bool met)
{
    printLine(QStringLiteral("| %1 | %2 | %3 | %4 |")
                  .arg(metric, figure, target, met ? QStringLiteral("met") : QStringLiteral("MISSED")));
}

void printInfoRow(const QString& metric, const QString& figure)
{
    printLine(QStringLiteral("| %1 | %2 | - | info |").arg(metric, figure));
}

void printDetail(const QString& text)
{
    printLine(QStringLiteral("    ") + text);
}

QString ms(double milliseconds, int decimals)
{
    return QString::number(milliseconds, 'f', decimals) + QStringLiteral(" ms");
}

int intOption(const QStringList& arguments, const QString& name, int fallback)
{
    bool ok = false;
    const int value = textOption(arguments, name).toInt(&ok);
    return ok ? value : fallback;
}

QString textOption(const QStringList& arguments, const QString& name, const QString& fallback)
{
    const qsizetype at = arguments.indexOf(name);
    return at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1) : fallback;
}

void prepareWindow(const QTemporaryDir& home)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("XDG_CONFIG_HOME", home.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
}

} // namespace Bench
