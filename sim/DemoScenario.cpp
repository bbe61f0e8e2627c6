#include "sim/DemoScenario.h"

#include <cstddef>

// Generated from sim/scenarios/demo.json by cmake/EmbedFile.cmake.
extern const char qm_embedded_demo_scenario[];
extern const std::size_t qm_embedded_demo_scenario_size;

namespace qm::sim {

std::string_view DemoScenarioText() {
    return {qm_embedded_demo_scenario, qm_embedded_demo_scenario_size};
}

nlohmann::json DemoScenario() {
    return nlohmann::json::parse(DemoScenarioText());
}

}  // namespace qm::sim
