#pragma once

// Starts the salts libzip takes for the entries it encrypts over from the
// first, so that every execution gives its first entry the same salt, its
// second the same other salt, and so on.
void restartLibzipSalts();
