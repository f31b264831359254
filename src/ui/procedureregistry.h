#pragma once
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ui {

class ToolWindow;

// Procedure names and how to make their windows. A name is started as many times
// as it is asked for; each start makes an independent instance.
class ProcedureRegistry {
public:
    using Factory = std::function<std::unique_ptr<ToolWindow>()>;

    void add(const std::string& procedure, Factory factory);
    bool contains(const std::string& procedure) const;
    std::unique_ptr<ToolWindow> make(const std::string& procedure) const;
    std::vector<std::string> names() const;

private:
    std::map<std::string, Factory> m_factories;
};

} // namespace ui
