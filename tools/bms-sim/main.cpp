#include <cstdio>
int main() { std::puts("bms-sim: not built yet"); return 1; }
