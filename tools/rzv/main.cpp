// rzv: a command-line tool for people who keep Ruzuzuve database files.
#include <cstdio>

int main(int argc, char** argv) {
  (void)argc;
  (void)argv;
  std::fprintf(stderr, "usage: rzv COMMAND FILE [options]\n");
  return 2;
}
