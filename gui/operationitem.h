#pragma once

#include "command.h"
#include "commandtable.h"

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

// How an item turns the text of a pump answer into its value and display text.
enum class ParseRule {
    Integer,      // the whole answer as a whole number
    Decimal,      // the whole answer as a decimal number, truncated toward zero
    ElapsedTime,  // hhmmsscc: hundredths of a second
    DispenseTime, // hhmmss: whole seconds
    StatusPage,   // three-digit status word, a blank and the page number
    CheckResult,  // a whole number, or -1 when the answer is none
};

// Value and display text that one answer gives under a rule.
struct ParsedAnswer
{
    qint32 value = 0;
    QString text;
};

// Reads text as a base-10 whole number (white space and sign allowed); 0 unless it is one
// that fits in 32 bits.
qint32 readInteger(QStringView text);
ParsedAnswer parseAnswer(ParseRule rule, const QString& answer);
// Model codes of the two known pumps, as the model version answer begins with them.
inline constexpr int ModelCode02 = 102;
inline constexpr int ModelCode10 = 110;
// Name of the pump model by its code, or by the model version answer that begins with it.
QString pumpModelName(int modelCode);
QString pumpModelName(const QString& modelVersion);

// The page a status answer names (its fifth character); 0 when that is missing or no digit.
int statusPageOf(const QString& answer);

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

// An item fed by the reading command N and parsed by rule R.
template <BusinessLogic::CommandSpezifier N, ParseRule R> class ItemOf : public OperationItem
{
public:
    static constexpr BusinessLogic::CommandSpezifier Spezifier = N;

    explicit ItemOf(qint32 initialValue = 0, QString initialText = {})
        : OperationItem(R, initialValue, std::move(initialText))
    {}

    BusinessLogic::CommandSpezifier getCommandSpezifier() override { return N; }
};

} // namespace GUI

// The pump's seven status words, each answer replacing the word of the page it names.
class OperationItemStatus : public GUI::ItemOf<BusinessLogic::CommandTable::getPumpStatus.spezifier,
                                               GUI::ParseRule::StatusPage>
{
public:
    static constexpr int PageCount = 7;
    // The pages that tell whether the motor runs, the run mode and dispense flags (bit 0 each),
    // and the errors (the low byte).
    static constexpr int MotionPage = 1;
    static constexpr int RunModePage = 3;
    static constexpr int DispensePage = 4;
    static constexpr int ErrorPage = 6;
    static constexpr qint32 ErrorBits = 0xFF;

    void setAnswer(Answer answer) override;
    // Word of the given page; 0 for a page the pump does not have.
    qint32 getStatus(int page) const;

private:
    std::array<qint32, PageCount> statusWords{};
};
