// Compiles arbitrary masks and mask lists and matches arbitrary names against
// them. The first byte splits the input into a mask and a name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "Errors.h"
#include "Masks.h"

namespace {
void Check(bool condition) {
  if (!condition) std::abort();
}

// The error names the mask and a position inside it or just past its end.
void CheckError(const Exception& e, std::string_view mask) {
  const std::string prefix = "'" + std::string(mask) + "' is an invalid mask at (";
  const std::string& message = e.Message();
  Check(message.compare(0, prefix.size(), prefix) == 0 && message.back() == ')');
  const long position = std::strtol(message.c_str() + prefix.size(), nullptr, 10);
  Check(position >= 1 && static_cast<size_t>(position) <= mask.size() + 1);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const size_t split = data[0] < input.size() ? data[0] : input.size();
  const std::string_view mask = input.substr(0, split);
  const std::string_view name = input.substr(split);

  static const TMask everything("*");
  Check(everything.MatchName(name));
  Check(everything.MatchName(mask));

  try {
    const TMask compiled(mask);
    compiled.MatchName(name);
    compiled.MatchName(mask);
    // A mask without wildcards or sets matches its own text.
    if (mask.find_first_of("*?[") == std::string_view::npos) Check(compiled.MatchName(mask));
  } catch (const Exception& e) {
    CheckError(e, mask);
  }

  try {
    const TMaskList list(mask);
    list.Matches(name);
  } catch (const Exception&) {
  }
  return 0;
}
