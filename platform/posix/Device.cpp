// Device seam, POSIX: placeholder until the module loader lands.
