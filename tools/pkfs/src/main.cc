// pkfs: the command-line tool for pack volume sets.
#include "pkfstool/commands.h"

int main(int argc, char** argv) { return pkfstool::RunTool(argc, argv); }
