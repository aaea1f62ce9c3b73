#include <cstdio>

int main() {
  std::puts("tolv: not built yet");
  return 0;
}
