#include "panelsession.h"

#include "allcommands.h"

#include <QTimer>

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
      pumpSearch(commandStack.get(), &commandTable), lineReopener(communication)
{
    QObject::connect(&communication, &Communication::lineLost, &lineReopener,
                     &LineReopener::lookOut);
}

PanelSession::~PanelSession()
{
    if (!lineThread.isRunning())
        return;
    // Nothing more goes out; the exchange under way ends first. The objects come back to this
    // thread to be torn down here, their timers stopped first: a timer that moves is started
    // again only by the event loop of the thread it moves to, which runs no more.
    commandStack->clear();
    QThread* home = QThread::currentThread();
    QMetaObject::invokeMethod(
        commandStack.get(),
        [this, home] {
            for (QObject* object : lineObjects()) {
                for (QTimer* timer : object->findChildren<QTimer*>())
                    timer->stop();
                object->moveToThread(home);
            }
        },
        Qt::BlockingQueuedConnection);
    lineThread.quit();
    lineThread.wait();
}

std::vector<QObject*> PanelSession::lineObjects()
{
    std::vector<QObject*> objects{&communication, commandStack.get(), &lineReopener};
    for (const auto& command : allCommands)
        objects.push_back(command.get());
    return objects;
}

void PanelSession::startLineThread()
{
    if (lineThread.isRunning())
        return;
    lineThread.setObjectName(QStringLiteral("pump line"));
    for (QObject* object : lineObjects())
        object->moveToThread(&lineThread);
    lineThread.start();
}

void PanelSession::fillTable()
{
    for (const auto& command : allCommands)
        commandTable.at(std::size_t(command->getCommandSpezifier())) = command.get();
}

} // namespace GUI
