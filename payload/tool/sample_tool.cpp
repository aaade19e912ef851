// Placeholder: the sample tool replaces this.
int main() { return 0; }
