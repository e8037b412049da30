// Replaces libstdc++'s default terminate handler in the stub. The default one prints the uncaught
// exception's demangled type to stderr, which a GUI program does not have, and brings the whole
// demangler (about 50 KB) with it. Ending the same way, without the message, is all the stub needs.
// Being defined here, the library's own definition is never linked in.
#include <cstdlib>

namespace __gnu_cxx {

[[noreturn]] void __verbose_terminate_handler() { std::abort(); }

}  // namespace __gnu_cxx
