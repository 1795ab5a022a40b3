#include "operationitem.h"

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
