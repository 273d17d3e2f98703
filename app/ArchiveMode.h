// The permission bits a new archive takes: as private as the archive it
// replaces, never more open than the database it holds, never setuid, setgid
// or sticky. A rule of its own so that every case can be read in one place.
#pragma once

#include <cstdint>

struct TModeFacts {
  bool replacing = false;     // an archive is at the name the new one takes
  uint32_t replacedMode = 0;  // its permission bits (07777)
  uint32_t newFileMode = 0;   // a new file's bits: 0666 less the umask
  uint32_t databaseMode = 0;  // the database's bits, as it was opened
  // The archive has the database's group (it was given it, or had it): its
  // group bits then speak of the group they mean.
  bool databaseGroup = true;
  // The database was read at its own name, no link on the way: a link may
  // lead into a folder closed to others, which the file's bits do not show.
  bool readAtItsName = true;
};

uint32_t ArchiveMode(const TModeFacts& facts);
