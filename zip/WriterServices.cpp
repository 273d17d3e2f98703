#include "WriterServices.h"

#include <utility>

namespace {

TPatternSearch& InstalledSearch() {
  static TPatternSearch search;
  return search;
}

TWriterMessage& InstalledMessage() {
  static TWriterMessage message;
  return message;
}

}  // namespace

void SetPatternSearch(TPatternSearch search) {
  InstalledSearch() = std::move(search);
}

void SetWriterMessage(TWriterMessage message) {
  InstalledMessage() = std::move(message);
}

const TPatternSearch& PatternSearch() {
  return InstalledSearch();
}

const TWriterMessage& WriterMessage() {
  return InstalledMessage();
}
