// Writes a number of bytes to a descriptor, then exits: emit FD BYTES.
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  int fd = std::atoi(argv[1]);
  long left = std::atol(argv[2]);
  char block[65536];
  std::memset(block, 'e', sizeof block);
  while (left > 0) {
    ssize_t n = write(fd, block, static_cast<size_t>(left < 65536 ? left : 65536));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return 1;
    left -= n;
  }
  return 0;
}
