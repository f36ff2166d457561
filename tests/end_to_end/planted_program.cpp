// Stands in for a program that a user planted where an unquoted service
// path with spaces would be tried first: it ends at once, so a service
// started through it never runs.
int main() { return 1; }
