#pragma once

#include "command.h"
#include "commandtable.h"
#include "readings.h"

#include <QString>

#include <array>

namespace GUI {

// A value that a pump answer can update; the refresh cycle hands it the answers it waits for.
class OperationData
{
public:
    OperationData() = default;
    virtual ~OperationData();
    Q_DISABLE_COPY_MOVE(OperationData)

    virtual void setAnswer(Answer answer);
    // The reading command whose answers this value takes.
    virtual BusinessLogic::CommandSpezifier getCommandSpezifier();
};

// The rules that parse the pump's answers live in the engine; the items apply them.
using Engine::ModelCode02;
using Engine::ModelCode10;
using Engine::parseAnswer;
using Engine::ParsedAnswer;
using Engine::ParseRule;
using Engine::pumpModelName;
using Engine::readInteger;
using Engine::statusPageOf;

// The last known value of one pump quantity, as a number and as display text.
class OperationItem : public OperationData
{
public:
    OperationItem();

    void setAnswer(Answer answer) override;
    BusinessLogic::CommandSpezifier getCommandSpezifier() override;

    qint32 getValue() const { return value; }
    QString getText() const { return text; }
    // Whether the value came from the pump (or the user sent it), rather than being the
    // stand-in the item starts with.
    bool isKnown() const { return known; }
    // Back to the stand-in: the pump behind the line may be another one now.
    void forget() { known = false; }
    // Shows a value the user has just sent; only the check result rewrites the text as well.
    void setValue(int v);

protected:
    OperationItem(ParseRule rule, qint32 initialValue, QString initialText);

    qint32 value = 0;
    QString text;
    bool known = false;

private:
    const ParseRule rule = ParseRule::Integer;
};

// An item fed by the reading command T, parsed by the rule of that reading.
template <const BusinessLogic::CommandTraits& T> class ItemOf : public OperationItem
{
public:
    static constexpr BusinessLogic::CommandSpezifier Spezifier = T.spezifier;

    explicit ItemOf(qint32 initialValue = 0, QString initialText = {})
        : OperationItem(Engine::ruleOf(T.body), initialValue, std::move(initialText))
    {}

    BusinessLogic::CommandSpezifier getCommandSpezifier() override { return T.spezifier; }
};

} // namespace GUI

// The pump's seven status words, each answer replacing the word of the page it names.
class OperationItemStatus : public GUI::ItemOf<BusinessLogic::CommandTable::getPumpStatus>
{
public:
    static constexpr int PageCount = 7;
    // The pages that tell whether the motor runs, the run mode and dispense flags (bit 0 each),
    // and the errors (the low byte).
    static constexpr int MotionPage = 1;
    static constexpr int RunModePage = 3;
    static constexpr int DispensePage = 4;
    static constexpr int ErrorPage = Engine::ErrorWord;
    static constexpr qint32 ErrorBits = Engine::ErrorBits;

    void setAnswer(Answer answer) override;
    // Word of the given page; 0 for a page the pump does not have.
    qint32 getStatus(int page) const;

private:
    std::array<qint32, PageCount> statusWords{};
};
