// The contract on Windows (under Wine): the real calls need no set-up.
#include "contract/contract_test.h"

namespace contract {

void contract_test::SetUp() {}

void contract_test::TearDown() {}

}  // namespace contract
