// libewf 20140813 leaks the chunk buffers of reads that fail on a truncated
// segment (allocated in libewf_chunk_data_initialize, never freed). That is
// the library's leak, not ours: LeakSanitizer is told to ignore it here, in
// the one test program that reads damaged segment sets.
extern "C" const char* __lsan_default_suppressions() { return "leak:libewf_chunk_data_initialize\n"; }
