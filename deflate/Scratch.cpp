#include "Scratch.h"

#include <memory>

namespace deflate_internal {

EncoderScratch& ThreadScratch() {
  thread_local std::unique_ptr<EncoderScratch> scratch;
  if (!scratch) scratch = std::make_unique<EncoderScratch>();
  return *scratch;
}

}  // namespace deflate_internal
