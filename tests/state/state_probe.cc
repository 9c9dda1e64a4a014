// SPDX-License-Identifier: MIT
// Runs server-state checks in a process of their own, for the tests whose
// behaviour lasts for the process (the one GRID attempt, the logger's
// output chosen on the first message).  Each argument is a step; each step
// prints one line on standard output:
//   update        "update=R code=C message=M" (M with line feeds as \n, or -)
//   on            "on=R" for isRyxOn(false)
//   grid          "grid=R"
//   switch-on, switch-off   "switch=R" (then the code and message as after update)
//   install SRC DST         copies a file ("installed")
//   remove PATH             deletes a file ("removed")
// R is 0 or 1.  Lines printed by the checks themselves ("ERROR: ...") go to
// the same stream, in order.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "state/commands.h"

namespace {

void printStatus(const char *step, bool result, const ryx::Commands &commands) {
  std::string message = "-";
  if (commands.message() != nullptr) {
    message.clear();
    for (const char *p = commands.message(); *p != '\0'; ++p) message += *p == '\n' ? std::string("\\n") : std::string(1, *p);
  }
  printf("%s=%d code=%d message=%s\n", step, result ? 1 : 0, commands.code(), message.c_str());
}

bool copyFile(const char *from, const char *to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary | std::ios::trunc);
  out << in.rdbuf();
  return in.good() && out.good();
}

void usage() {
  fputs("usage: state_probe STEP...\n"
        "steps: update, on, grid, switch-on, switch-off,\n"
        "       install SRC DST, remove PATH\n",
        stdout);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2 || strcmp(argv[1], "--help") == 0) {
    usage();
    return argc < 2 ? 2 : 0;
  }
  ryx::Commands commands;
  for (int i = 1; i < argc; ++i) {
    std::string step = argv[i];
    if (step == "update") {
      bool result = commands.updateStatus();
      printStatus("update", result, commands);
    } else if (step == "on") {
      printf("on=%d\n", commands.isRyxOn(false) ? 1 : 0);
    } else if (step == "grid") {
      printf("grid=%d\n", commands.isGridAvailable() ? 1 : 0);
    } else if (step == "switch-on" || step == "switch-off") {
      bool result = commands.switchRyx(step == "switch-on");
      printStatus("switch", result, commands);
    } else if (step == "install" && i + 2 < argc) {
      if (!copyFile(argv[i + 1], argv[i + 2])) return 3;
      i += 2;
      puts("installed");
    } else if (step == "remove" && i + 1 < argc) {
      if (unlink(argv[++i]) != 0) return 3;
      puts("removed");
    } else {
      fprintf(stderr, "state_probe: unknown step %s\n", step.c_str());
      return 2;
    }
    fflush(stdout);
  }
  return 0;
}
