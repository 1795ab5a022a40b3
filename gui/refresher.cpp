#include "refresher.h"

namespace GUI {

Refresher::~Refresher() = default;

} // namespace GUI
