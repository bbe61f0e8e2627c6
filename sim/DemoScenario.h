// The demo scenario (sim/scenarios/demo.json), compiled into the program so that --demo works from
// an installed or copied binary.
#pragma once

#include <nlohmann/json.hpp>
#include <string_view>

namespace qm::sim {

// The scenario file's text as it was at build time.
std::string_view DemoScenarioText();
// The same, parsed.
nlohmann::json DemoScenario();

}  // namespace qm::sim
