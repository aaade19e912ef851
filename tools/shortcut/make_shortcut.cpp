// Placeholder: the shell link writer replaces this.
#include <cstdio>
int main(int, char** argv) { std::FILE* f = std::fopen(argv[1], "wb"); std::fputs("L", f); std::fclose(f); }
