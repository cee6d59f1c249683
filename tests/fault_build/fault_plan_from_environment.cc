// Linked into the test builds of the programs only: the fault plan of
// MAROVETIN_FAULT_PLAN is installed before main runs.
#include "fault_plan.h"

namespace {

const bool kPlanInstalled = (testing_support::InstallFaultPlanFromEnvironment(), true);

}  // namespace
