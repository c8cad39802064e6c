#include <cstdio>

#include "reader/cli.h"

int main(int argc, char** argv) { return kolvaprof::reader::runCli(argc, argv, stdout, stderr); }
