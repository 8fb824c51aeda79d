// Debian's static ICU archive is compiled position-independent for
// executables, not for shared objects: its platform layer (putil) reads the C
// library's time zone globals directly, which a shared object cannot do. This
// module gives that layer hidden variables of its own instead. vorn asks ICU
// for no time zone, so ICU never reads them; the C library's own globals are
// untouched. No header is included: <time.h> declares the same names.
extern "C" {
__attribute__((visibility("hidden"))) long __timezone = 0;
__attribute__((visibility("hidden"))) char* tzname[2] = {nullptr, nullptr};
}
