#include "operationitem.h"

#include <cmath>
#include <limits>

namespace GUI {

OperationData::~OperationData() = default;

void OperationData::setAnswer(Answer answer)
{
    Q_UNUSED(answer);
}

BusinessLogic::CommandSpezifier OperationData::getCommandSpezifier()
{
    return BusinessLogic::BaseCommandSpezifier;
}

qint32 readInteger(QStringView text)
{
    bool ok = false;
    const qlonglong number = text.toLongLong(&ok, 10);
    if (!ok || number < std::numeric_limits<qint32>::min()
        || number > std::numeric_limits<qint32>::max())
        return 0;
    return static_cast<qint32>(number);
}

namespace {

qint32 readDecimal(const QString& text)
{
    const double number = text.toDouble();
    // A number beyond 32 bits (or "inf"/"nan") has no integer to go to: treat it as no number.
    if (!std::isfinite(number) || number <= std::numeric_limits<qint32>::min() - 1.0
        || number >= std::numeric_limits<qint32>::max() + 1.0)
        return 0;
    return static_cast<qint32>(number);
}

// Hours, minutes and seconds from the first six characters, two each.
qint32 secondsOf(QStringView text)
{
    return readInteger(text.mid(0, 2)) * 3600 + readInteger(text.mid(2, 2)) * 60
        + readInteger(text.mid(4, 2));
}

} // namespace

ParsedAnswer parseAnswer(ParseRule rule, const QString& answer)
{
    const QStringView view(answer);
    switch (rule) {
    case ParseRule::Integer:
        return {readInteger(view), answer};
    case ParseRule::Decimal:
        return {readDecimal(answer), answer};
    case ParseRule::ElapsedTime:
        return {secondsOf(view) * 100 + readInteger(view.mid(6, 3)), answer.left(9)};
    case ParseRule::DispenseTime:
        return {secondsOf(view), answer.left(6)};
    case ParseRule::StatusPage:
        return {readInteger(view.mid(0, 3)), answer};
    case ParseRule::CheckResult: {
        bool ok = false;
        const qlonglong number = answer.toLongLong(&ok, 10);
        if (ok && number >= std::numeric_limits<qint32>::min()
            && number <= std::numeric_limits<qint32>::max())
            return {static_cast<qint32>(number), answer};
        return {-1, QStringLiteral("-1")};
    }
    }
    return {};
}

int statusPageOf(const QString& answer)
{
    return readInteger(QStringView(answer).mid(4, 1));
}

QString pumpModelName(int modelCode)
{
    return modelCode == ModelCode02   ? QStringLiteral("VELOR 02")
           : modelCode == ModelCode10 ? QStringLiteral("VELOR 10")
                                      : QStringLiteral("UNKNOWN");
}

QString pumpModelName(const QString& modelVersion)
{
    return pumpModelName(readInteger(QStringView(modelVersion).mid(0, 5)));
}

OperationItem::OperationItem() = default;

OperationItem::OperationItem(ParseRule rule, qint32 initialValue, QString initialText)
    : value(initialValue), text(std::move(initialText)), rule(rule)
{
}

void OperationItem::setAnswer(Answer answer)
{
    ParsedAnswer parsed = parseAnswer(rule, QString::fromUtf8(answer.data));
    value = parsed.value;
    text = std::move(parsed.text);
    known = true;
}

BusinessLogic::CommandSpezifier OperationItem::getCommandSpezifier()
{
    return BusinessLogic::BaseCommandSpezifier;
}

void OperationItem::setValue(int v)
{
    value = v;
    known = true;
    if (rule == ParseRule::CheckResult)
        text = QString::number(v);
}

} // namespace GUI

void OperationItemStatus::setAnswer(Answer answer)
{
    ItemOf::setAnswer(std::move(answer));
    // Pages the pump does not have keep value and text only: there is no word to hold them.
    const int page = GUI::statusPageOf(text);
    if (page < PageCount)
        statusWords[static_cast<std::size_t>(page)] = value;
}

qint32 OperationItemStatus::getStatus(int page) const
{
    if (page < 0 || page >= PageCount)
        return 0;
    return statusWords[static_cast<std::size_t>(page)];
}
