// The updater as it ships, its files reached through the fault plan of
// MAROVETIN_FAULT_PLAN (support/fault_plan.h): a test build only.
#include "fault_plan.h"
#include "launcher/launcher_app.h"

int main(int argc, char** argv) {
  return launcher::RunProgram(argc, argv, testing_support::FaultPlanEnvFromEnvironment());
}
