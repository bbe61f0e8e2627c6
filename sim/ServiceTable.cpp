// The rows of the simulator's table of services, in the order they are asked. Each service's
// answers file defines its row.
#include <array>

#include "sim/ServiceAnswers.h"

namespace qm::sim {

// Each service's row, from its answers file.
ServiceAnswers QZoneAnswers();
ServiceAnswers GroupAnswers();
ServiceAnswers WeiboAnswers();
ServiceAnswers LoginAnswers();

std::span<const ServiceAnswers> ServiceTable() {
    static const std::array<ServiceAnswers, 4> table{
        {QZoneAnswers(), GroupAnswers(), WeiboAnswers(), LoginAnswers()}};
    return table;
}

}  // namespace qm::sim
