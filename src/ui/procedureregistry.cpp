#include "ui/procedureregistry.h"

#include "ui/toolwindow.h"

namespace ui {

void ProcedureRegistry::add(const std::string& procedure, Factory factory) {
    m_factories[procedure] = std::move(factory);
}

bool ProcedureRegistry::contains(const std::string& procedure) const {
    return m_factories.count(procedure) != 0;
}

std::unique_ptr<ToolWindow> ProcedureRegistry::make(const std::string& procedure) const {
    auto it = m_factories.find(procedure);
    if (it == m_factories.end()) return nullptr;
    return it->second();
}

std::vector<std::string> ProcedureRegistry::names() const {
    std::vector<std::string> out;
    for (const auto& [name, factory] : m_factories) out.push_back(name);
    return out;
}

} // namespace ui
