// The 32-bit program's own string members and library throw helpers, built as the program is
// built (see CMakeLists.txt): each library error must still reach a catch (...) as an
// exception, and the allocation errors keep their own types.
#include <cstdio>
#include <new>
#include <string>
#include <vector>

namespace {

enum class Caught { Nothing, BadAlloc, BadArrayNewLength, StdException, Other };

template <typename F>
Caught Run(F f, std::string* what) {
  try {
    f();
  } catch (const std::bad_array_new_length&) {
    return Caught::BadArrayNewLength;
  } catch (const std::bad_alloc&) {
    return Caught::BadAlloc;
  } catch (const std::exception& e) {
    *what = e.what();
    return Caught::StdException;
  } catch (...) {
    return Caught::Other;
  }
  return Caught::Nothing;
}

// Sizes beyond what the allocator accepts, so that nothing is really allocated.
const size_t kTooManyInts = (static_cast<size_t>(-1) / sizeof(int)) / 2 + 1;
const size_t kWrappingInts = static_cast<size_t>(-1) / sizeof(int) + 1;

struct Case {
  const char* name;
  Caught expected;
  const char* whatContains;  // for StdException: part of the library's message
  void (*raise)();
};

volatile size_t g_position = 10;  // not a constant, so the check stays in the program

const Case kCases[] = {
  {"wstring substr past the end", Caught::StdException, "__pos",
   [] { std::wstring s(L"abc"); s = s.substr(g_position); }},
  {"wstring erase past the end", Caught::StdException, "__pos",
   [] { std::wstring s(L"abc"); s.erase(g_position, 1); }},
  {"wstring at past the end", Caught::StdException, "basic_string::at",
   [] { std::wstring s(L"abc"); (void)s.at(g_position); }},
  {"string built from null", Caught::StdException, "null",
   [] { const char* volatile none = nullptr; std::string s(none); }},
  {"string longer than max_size", Caught::StdException, "basic_string",
   [] { std::string s; s.reserve(s.max_size() + g_position); }},
  {"vector longer than max_size", Caught::StdException, "vector",
   [] { std::vector<int> v; v.reserve(v.max_size() + g_position); }},
  {"allocator beyond its maximum", Caught::BadAlloc, nullptr,
   [] { std::allocator<int>().deallocate(std::allocator<int>().allocate(kTooManyInts), 1); }},
  {"allocator size that wraps", Caught::BadArrayNewLength, nullptr,
   [] { std::allocator<int>().deallocate(std::allocator<int>().allocate(kWrappingInts), 1); }},
};

}  // namespace

int main() {
  int failed = 0;
  for (const Case& c : kCases) {
    std::string what;
    Caught got = Run(c.raise, &what);
    bool ok = got == c.expected && (!c.whatContains || what.find(c.whatContains) != std::string::npos);
    if (!ok) {
      std::printf("FAIL %s: caught kind %d, what \"%s\"\n", c.name, static_cast<int>(got), what.c_str());
      ++failed;
    }
  }
  int total = static_cast<int>(sizeof(kCases) / sizeof(kCases[0]));
  std::printf("%d passed, %d failed\n", total - failed, failed);
  return failed ? 1 : 0;
}
