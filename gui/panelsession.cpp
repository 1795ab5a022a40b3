#include "panelsession.h"

#include "allcommands.h"

namespace GUI {

namespace {

std::unique_ptr<BusinessLogic::LoggingCommandStack>
stackOn(const PanelSession::StackFactory& makeStack, const Communication& link)
{
    if (makeStack)
        return makeStack(link);
    return std::make_unique<BusinessLogic::LoggingCommandStack>();
}

} // namespace

PanelSession::PanelSession(const StackFactory& makeStack)
    : allCommands(BusinessLogic::createAllCommands(&communication)),
      commandStack(stackOn(makeStack, communication)),
      commandTable(BusinessLogic::CommandTableSize, nullptr),
      refreshCycle(commandStack.get(), &commandTable),
      pumpSearch(commandStack.get(), &commandTable)
{}

PanelSession::~PanelSession() = default;

void PanelSession::fillTable()
{
    for (const auto& command : allCommands)
        commandTable.at(std::size_t(command->getCommandSpezifier())) = command.get();
}

} // namespace GUI
