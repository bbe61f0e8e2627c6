// The simulator's table of services: one row a service, each answering the addresses of its own
// hosts and, where it brings one, reading its own part of a scenario. The simulator asks the rows
// in turn; a new service adds its answers file and its row (sim/ServiceTable.cpp).
#pragma once

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>

#include "sim/Answer.h"
#include "sim/Scenario.h"

namespace qm::sim {

// How a service reads the pictures of its part of a scenario, with the checks and served addresses
// every picture of a scenario gets.
class ScenarioPictures {
public:
    virtual ~ScenarioPictures() = default;
    // Each picture of container[listKey] (a list, a bare count, and/or a "generate" block), read
    // with its name, description, format, size and time, its id unique in the whole scenario.
    virtual void Read(nlohmann::json& container, const char* listKey, const std::string& idPrefix,
                      const std::string& where,
                      const std::function<void(Picture&, const nlohmann::json&)>& each) = 0;
    // Serves the bytes of `p` at `address` (http://host/target).
    virtual void Serve(const Picture& p, const std::string& address) = 0;
    // Stops reading the scenario: `what` is wrong with the entry at `where`.
    [[noreturn]] virtual void Bad(const std::string& where, const std::string& what) = 0;
};

struct ServiceAnswers {
    const char* name;  // the top-level entry of a scenario that holds the service's part
    // The answer to a request for one of the service's addresses; nothing when it is not its own.
    std::optional<Answer> (*answer)(const ScenarioModel& m, const SimRequest& r, PasswordBook& pw);
    // Reads the service's part of a scenario (kept in ScenarioModel::services under `name`); null
    // for the services the scenario model itself holds.
    std::shared_ptr<const ServiceData> (*read)(nlohmann::json& part, ScenarioPictures& pictures);
};

// Every row, in the order the simulator asks them.
std::span<const ServiceAnswers> ServiceTable();

}  // namespace qm::sim
