// Test child: opens the path it is given, says "open", then holds it until it is killed.
#include <fcntl.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2 || open(argv[1], O_RDWR | O_NOCTTY) < 0) return 1;
  if (write(STDOUT_FILENO, "open\n", 5) != 5) return 1;
  for (;;) pause();
}
