/* A tiny library that the dynamic-library tests load from the program folder. */
int tw_probe_value(void) { return 4242; }
