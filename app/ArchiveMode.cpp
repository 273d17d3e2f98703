#include "ArchiveMode.h"

uint32_t ArchiveMode(const TModeFacts& facts) {
  const uint32_t base = facts.replacing ? facts.replacedMode : facts.newFileMode;
  uint32_t mode = base & facts.databaseMode & 0777u;
  if (!facts.databaseGroup) mode &= ~070u;
  if (!facts.readAtItsName) mode &= 0700u;
  return mode;
}
