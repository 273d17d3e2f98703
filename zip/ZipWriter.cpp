#include "ZipWriter.h"

#include "Errors.h"

TZipWriter::TZipWriter() = default;
TZipWriter::~TZipWriter() = default;

void TZipWriter::SetZipName(const std::string& value) { zipName_ = value; }
void TZipWriter::SetStorePaths(bool value) { storePaths_ = value; }

// Stand-in until the writer lands: refuses rather than pretend to write.
int TZipWriter::Zip() { throw Exception("The archive writer is not available yet"); }
