// The soak watches this process's resident memory. AddressSanitizer keeps freed memory in a
// quarantine of 256 MB by default, which would grow the figure for the first hours of any run and
// hide real growth below it; a small quarantine still catches a use soon after a free.
extern "C" const char* __asan_default_options();
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=8"; }
