#include "tools/registertools.h"

#include "ui/procedureregistry.h"

namespace tools {

void registerTools(ui::ProcedureRegistry& registry) {
    // Each tool adds its procedure here as it is built.
    (void)registry;
}

} // namespace tools
