#pragma once

namespace ui {
class ProcedureRegistry;
}

namespace tools {

// Adds every tool procedure of the program to the registry.
void registerTools(ui::ProcedureRegistry& registry);

} // namespace tools
