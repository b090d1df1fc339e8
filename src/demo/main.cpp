// STUB entry point: replaced once the demo object exists.
int main() { return 0; }
