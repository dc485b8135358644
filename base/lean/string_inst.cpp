// The shipped program's own copy of std::string and std::wstring. The library's prebuilt
// copies come as two whole objects (every member, with unwind tables, about 65 KiB) as soon
// as one member is called; instantiated here they go through link-time optimisation with the
// rest of the program, which keeps only the members it calls. Same headers, same code: the
// other modules still see the library's extern declarations and call these definitions.
// Built with exceptions, as the library's copies are.
#include <string>

template class std::basic_string<char>;
template class std::basic_string<wchar_t>;
