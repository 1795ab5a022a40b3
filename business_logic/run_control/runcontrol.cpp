#include "runcontrol.h"

// The slots only make the table's behaviour reachable through the meta-object system.
namespace BusinessLogic {

void SetRunMode::execute() { FixedCommand::execute(); }
void Start::execute() { FixedCommand::execute(); }
void Stop::execute() { FixedCommand::execute(); }
void Prime::execute() { FixedCommand::execute(); }
void GetVolume::execute() { FixedCommand::execute(); }
void GetFlowRate::execute() { FixedCommand::execute(); }
void SetDispenseModeVolume::execute() { FixedCommand::execute(); }
void SetDispenseModeFlowrate::execute() { FixedCommand::execute(); }

void SetVolume::execute() { ValueCommand::execute(); }
void SetVolume::setParameter(int value) { ValueCommand::setParameter(value); }
void SetFlowRate::execute() { ValueCommand::execute(); }
void SetFlowRate::setParameter(int value) { ValueCommand::setParameter(value); }

} // namespace BusinessLogic
