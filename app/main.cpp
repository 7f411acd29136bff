#include <string_view>

#include "app/command_deadline.h"
#include "app/dispatch.h"

int main(int argc, char** argv) {
  // watch runs for good; every other command answers in time.
  if (argc < 2 || argv[1] == nullptr || std::string_view(argv[1]) != "watch") {
    focusctl::armCommandDeadline();
  }
  return focusctl::runCommandLine(argc, argv);
}
