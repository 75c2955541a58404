// The contract on the simulated machine: a new machine for each test, whose test thread
// is the simulated one; a test fails when it leaves a simulated thread running.
#include "contract/contract_test.h"
#include "sim/machine.h"

namespace contract {

void contract_test::SetUp() {
    sim::machine::instance().reset();
}

void contract_test::TearDown() {
    for (const auto& thread : sim::machine::instance().unfinished_threads()) {
        ADD_FAILURE() << "a simulated thread has not ended: " << thread;
    }
}

}  // namespace contract
