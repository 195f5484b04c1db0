// AddressSanitizer's settings for the fuzz targets (ASAN_OPTIONS still
// overrides them). Each input frees all it allocated, and the default
// quarantine (256 MiB) then hands every allocation memory not touched for
// many inputs: page faults and zeroed pages cost several times the parse
// (three times the executions of path_object_fuzz with 16 MiB). A use after
// free within an input, whose blocks are far fewer than 16 MiB, is still
// caught. Allocation stacks of 10 frames still name the code that allocated.
extern "C" const char *__asan_default_options()
{
    return "quarantine_size_mb=16:malloc_context_size=10";
}
