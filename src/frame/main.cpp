#include "frame/Startup.h"

int main(int argc, char* argv[]) { return startBrivox(argc, argv); }
