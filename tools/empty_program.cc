// An empty Windows program: what Wine takes to start and end a process, to
// set beside weigh.exe's time in the benchmarks.
int main() { return 0; }
