#include "kolvaprof/commands.h"

int main(int argc, char** argv) { return kolvaprof::command::runCommand(argc, argv); }
