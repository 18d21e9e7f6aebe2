// The nine flash operations of an update, in the order they run. Each write
// follows the erase of exactly its region; the regions written do not overlap.
#include "engine/flash_plan.h"

namespace kv {

const FlashStep FlashPlan[kFlashPlanSteps] = {
    {kOperationErase, 0xEF000, 0x1000, 0},
    {kOperationErase, 0x0, 0x40000, 0},
    {kOperationWrite, 0x0, 0x40000, 136},
    {kOperationErase, 0x3FD000, 0x3000, 0},
    {kOperationWrite, 0x3FD000, 0x3000, 133},
    {kOperationErase, 0xF0000, 0x2C7000, 0},
    {kOperationWrite, 0xF0000, 0x2C7000, 137},
    {kOperationErase, 0x40000, 0xB0000, 0},
    {kOperationWrite, 0x40000, 0xB0000, 129},
};

}  // namespace kv
