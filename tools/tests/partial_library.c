/* A shared library with only one of quorbit's exports, for the loader test. */
int OpenDevice(void) { return 0; }
