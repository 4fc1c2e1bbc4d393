// Gives each precompiled-header target a translation unit of its own. The
// targets are executables so their headers are compiled as test executables are.
int main() { return 0; }
