// Test child: prints every descriptor it holds as "fd target", one a line.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

int main() {
  DIR* dir = opendir("/proc/self/fd");
  if (!dir) return 2;
  while (const dirent* e = readdir(dir)) {
    if (e->d_name[0] == '.' || std::atoi(e->d_name) == dirfd(dir)) continue;
    char link[300], target[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%s", e->d_name);
    ssize_t n = readlink(link, target, sizeof target - 1);
    target[n < 0 ? 0 : n] = '\0';
    std::printf("%s %s\n", e->d_name, target);
  }
  closedir(dir);
  return 0;
}
