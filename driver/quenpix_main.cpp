// Entry point of the encoder tool.
int main() { return 0; }
