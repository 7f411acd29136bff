#include "app/dispatch.h"

int main(int argc, char** argv) { return focusctl::runCommandLine(argc, argv); }
